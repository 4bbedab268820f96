#include "corpus/extension_test.h"

#include <algorithm>
#include <utility>

#include "corpus/lexical_path.h"

namespace speech::corpus {

std::string_view name_extension(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  if (name.find_first_not_of('.') >= dot) return {};
  return name.substr(dot);
}

ExtensionTest::ExtensionTest(std::vector<std::string> accepted,
                             std::function<bool(std::string_view)> non_ascii)
    : accepted_(std::move(accepted)), non_ascii_(std::move(non_ascii)) {}

bool ExtensionTest::accepts_name(std::string_view name) const {
  const std::string_view extension = name_extension(name);
  if (extension.empty()) return false;
  std::string lowered(extension);
  for (char& c : lowered) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) return non_ascii_ ? non_ascii_(extension) : false;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return std::find(accepted_.begin(), accepted_.end(), lowered) != accepted_.end();
}

bool ExtensionTest::accepts_path(std::string_view path) const { return accepts_name(path_basename(path)); }

}  // namespace speech::corpus
