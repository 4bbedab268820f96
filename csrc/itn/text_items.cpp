#include "text_items.h"

namespace TextPolishItn {
namespace {

// Length of the sequence a lead byte announces, or 0 for a byte that cannot
// start one.
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// Decodes the sequence at text[pos], or returns -1 when it is malformed,
// overlong, a surrogate or beyond the code point range.
ItnLabel DecodeAt(std::string_view text, size_t pos, int length) {
  if (pos + length > text.size()) return -1;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
  if (length == 1) return byte(0);
  ItnLabel cp = byte(0) & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (byte(i) & 0x3F);
  }
  static constexpr ItnLabel kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kSmallest[length] || cp > kMaxCodePoint) return -1;
  if (cp >= 0xD800 && cp <= 0xDFFF) return -1;
  return cp;
}

void AppendCodePoint(ItnLabel cp, std::vector<char>* out) {
  const auto put = [out](unsigned value) { out->push_back(static_cast<char>(value)); };
  if (cp < 0x80) {
    put(cp);
  } else if (cp < 0x800) {
    put(0xC0 | (cp >> 6));
    put(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    put(0xE0 | (cp >> 12));
    put(0x80 | ((cp >> 6) & 0x3F));
    put(0x80 | (cp & 0x3F));
  } else {
    put(0xF0 | (cp >> 18));
    put(0x80 | ((cp >> 12) & 0x3F));
    put(0x80 | ((cp >> 6) & 0x3F));
    put(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::vector<TextItem> DecodeUtf8(std::string_view text) {
  std::vector<TextItem> items;
  items.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    const int length = SequenceLength(lead);
    const ItnLabel cp = length > 0 ? DecodeAt(text, pos, length) : -1;
    // NUL is a byte like any other for the caller, but label 0 is epsilon.
    if (cp > 0) {
      items.push_back({cp});
      pos += length;
    } else {
      items.push_back({kOtherLabel, lead});
      ++pos;
    }
  }
  return items;
}

bool EncodeUtf8(const std::vector<TextItem>& items, std::vector<char>* out) {
  for (const TextItem& item : items) {
    if (item.label == kOtherLabel) {
      out->push_back(static_cast<char>(item.raw));
    } else if (IsCodePoint(item.label)) {
      AppendCodePoint(item.label, out);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace TextPolishItn
