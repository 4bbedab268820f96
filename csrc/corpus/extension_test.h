#pragma once
// Which file names the indexers accept: the extension is the name's part
// from its last dot, unless only dots stand before that dot; it is compared
// lower-cased with the accepted extensions, lower-cased too.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace speech::corpus {

// The extension of one file name, or an empty view when it has none.
std::string_view name_extension(std::string_view name);

class ExtensionTest {
 public:
  // `accepted`: the accepted extensions, already lower-cased, as file-system
  // bytes. `non_ascii`: decides an extension that holds non-ASCII bytes,
  // whose lower-casing follows the interpreter's full case rules.
  ExtensionTest(std::vector<std::string> accepted,
                std::function<bool(std::string_view extension)> non_ascii);

  bool accepts_name(std::string_view name) const;
  // The test applied to the last part of a path.
  bool accepts_path(std::string_view path) const;

 private:
  std::vector<std::string> accepted_;
  std::function<bool(std::string_view)> non_ascii_;
};

}  // namespace speech::corpus
