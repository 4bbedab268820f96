#include "common/text_order.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace speech::common {
namespace {

bool continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Length of the valid sequence starting at `i`, or 0 when the byte there
// cannot start one.
size_t valid_sequence_length(std::string_view s, size_t i) {
  const auto at = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char lead = at(i);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  if (at(i + 1) < low || at(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (!continuation(at(i + k))) return 0;
  }
  return length;
}

void append_escaped_byte(std::string& out, unsigned char byte) {
  const uint32_t code_point = 0xDC00u + byte;
  out.push_back(static_cast<char>(0xE0 | (code_point >> 12)));
  out.push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3F)));
  out.push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
}

}  // namespace

bool is_strict_utf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t length = valid_sequence_length(bytes, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string text_order_key(std::string_view bytes) {
  std::string key;
  key.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    const size_t length = valid_sequence_length(bytes, i);
    if (length == 0) {
      append_escaped_byte(key, static_cast<unsigned char>(bytes[i]));
      ++i;
    } else {
      key.append(bytes.substr(i, length));
      i += length;
    }
  }
  return key;
}

void sort_unique_by_text(std::vector<std::string>& names) {
  // Equal keys are equal names, so equal names end up side by side.
  sort_by_text(names, [](const std::string& name) -> const std::string& { return name; });
  names.erase(std::unique(names.begin(), names.end()), names.end());
}

std::vector<size_t> distinct_in_key_order(const std::vector<std::string>& keys) {
  std::vector<size_t> order(keys.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&keys](size_t a, size_t b) { return keys[a] < keys[b]; });
  order.erase(std::unique(order.begin(), order.end(), [&keys](size_t a, size_t b) { return keys[a] == keys[b]; }),
              order.end());
  return order;
}

}  // namespace speech::common
