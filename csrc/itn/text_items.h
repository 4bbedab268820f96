// Text as the rule sets see it: UTF-8 split into code points, with bytes
// that are not valid UTF-8 kept aside so they come back unchanged.
#pragma once

#include <string_view>
#include <vector>

#include "itn_labels.h"

namespace TextPolishItn {

struct TextItem {
  ItnLabel label;         // a code point, a marker, or kOtherLabel for `raw`
  unsigned char raw = 0;  // the stray byte when label is kOtherLabel
};

std::vector<TextItem> DecodeUtf8(std::string_view text);

// Appends the UTF-8 form of the items to `out`. Returns false, leaving `out`
// partly written, when an item is a marker, which no text may contain.
bool EncodeUtf8(const std::vector<TextItem>& items, std::vector<char>* out);

}  // namespace TextPolishItn
