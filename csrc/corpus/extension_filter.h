#pragma once
// Which files the indexers accept: the extension of the last component, as
// os.path.splitext finds it, compared lower-cased with the accepted
// extensions, lower-cased too.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace speech::corpus {

class ExtensionFilter {
 public:
  // `accepted`: the accepted extensions, already lower-cased, as file-system
  // bytes. `non_ascii`: decides an extension that holds non-ASCII bytes,
  // whose lower-casing follows the interpreter's full case rules.
  ExtensionFilter(std::vector<std::string> accepted,
                std::function<bool(std::string_view extension)> non_ascii);

  // A file name or a whole path: only its last component counts.
  bool accepts(std::string_view path) const;

 private:
  std::vector<std::string> accepted_;
  std::function<bool(std::string_view)> non_ascii_;
};

}  // namespace speech::corpus
