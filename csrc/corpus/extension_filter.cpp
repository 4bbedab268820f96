#include "corpus/extension_filter.h"

#include <algorithm>
#include <utility>

#include "common/os_path.h"

namespace speech::corpus {

ExtensionFilter::ExtensionFilter(std::vector<std::string> accepted,
                             std::function<bool(std::string_view)> non_ascii)
    : accepted_(std::move(accepted)), non_ascii_(std::move(non_ascii)) {}

bool ExtensionFilter::accepts(std::string_view path) const {
  const std::string_view extension = common::path_splitext(path).extension;
  if (extension.empty()) return false;
  std::string lowered(extension);
  for (char& c : lowered) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return non_ascii_ ? non_ascii_(extension) : false;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return std::find(accepted_.begin(), accepted_.end(), lowered) != accepted_.end();
}

}  // namespace speech::corpus
