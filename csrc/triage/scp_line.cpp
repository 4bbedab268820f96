#include "triage/scp_line.h"

#include <cstddef>

namespace speech::triage {
namespace {

// A decoded code point and the bytes it takes. Bytes that do not form a
// sequence the interpreter's strict UTF-8 decoder accepts (truncated,
// overlong, an encoded surrogate, beyond U+10FFFF) count as one non-space
// character each, as the surrogate escapes they are read as, so they stay in
// the text they belong to.
struct Decoded {
  char32_t code_point;
  size_t length;
};

constexpr Decoded kStrayByte{0xFFFD, 1};

Decoded decode_at(const std::string& text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  size_t length = 1;
  char32_t value = lead;
  char32_t least = 0;
  if (lead >= 0xF8) return kStrayByte;
  if (lead >= 0xF0) {
    length = 4;
    value = lead & 0x07;
    least = 0x10000;
  } else if (lead >= 0xE0) {
    length = 3;
    value = lead & 0x0F;
    least = 0x800;
  } else if (lead >= 0xC0) {
    length = 2;
    value = lead & 0x1F;
    least = 0x80;
  } else {
    // ASCII, or a continuation byte with no lead (never a character).
    return lead < 0x80 ? Decoded{value, 1} : kStrayByte;
  }
  if (at + length > text.size()) return kStrayByte;
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return kStrayByte;
    value = (value << 6) | (next & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return kStrayByte;
  return {value, length};
}

// Byte offset of the first whitespace character at or after `from`, or npos.
size_t find_space(const std::string& text, size_t from) {
  for (size_t at = from; at < text.size();) {
    const Decoded d = decode_at(text, at);
    if (is_unicode_space(d.code_point)) return at;
    at += d.length;
  }
  return std::string::npos;
}

// Byte offset of the first non-whitespace character at or after `from`.
size_t skip_spaces(const std::string& text, size_t from) {
  size_t at = from;
  while (at < text.size()) {
    const Decoded d = decode_at(text, at);
    if (!is_unicode_space(d.code_point)) break;
    at += d.length;
  }
  return at;
}

std::string strip(const std::string& text) {
  const size_t begin = skip_spaces(text, 0);
  size_t end = begin;
  for (size_t at = begin; at < text.size();) {
    const Decoded d = decode_at(text, at);
    at += d.length;
    if (!is_unicode_space(d.code_point)) end = at;
  }
  return text.substr(begin, end - begin);
}

}  // namespace

bool is_unicode_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

ScpLine parse_scp_line(const std::string& line) {
  ScpLine out;
  out.stripped = strip(line);
  if (out.stripped.empty() || out.stripped.front() == '#') return out;
  const size_t space = find_space(out.stripped, 0);
  if (space == std::string::npos) {
    out.kind = ScpLineKind::kMalformed;
    return out;
  }
  out.kind = ScpLineKind::kEntry;
  out.utt_id = out.stripped.substr(0, space);
  out.wav_path = out.stripped.substr(skip_spaces(out.stripped, space));
  return out;
}

}  // namespace speech::triage
