// Arc labels shared by the grammar compiler and the engine. Characters are
// their Unicode code points; everything above the code point range is ours.
#pragma once

#include <cstdint>

namespace TextPolishItn {

using ItnLabel = std::int32_t;

// Highest Unicode code point.
constexpr ItnLabel kMaxCodePoint = 0x10FFFF;
// Stands for any character a rule set does not mention; the engine puts the
// original bytes back in order, so rule sets may only copy it one to one.
constexpr ItnLabel kOtherLabel = kMaxCodePoint + 1;
// Markup a tagger writes for its verbalizer; never part of engine text.
constexpr ItnLabel kFirstMarkerLabel = kOtherLabel + 1;

constexpr bool IsCodePoint(ItnLabel label) {
  return label > 0 && label <= kMaxCodePoint;
}

}  // namespace TextPolishItn
