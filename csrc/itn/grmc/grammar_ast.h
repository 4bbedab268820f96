// Parsed form of a rule grammar file.
//
// A grammar is a list of definitions `name = expression ;`, optionally
// preceded by `export`. Expressions, loosest binding first:
//   a | b       union
//   a @ b       composition
//   a - b       difference of two acceptors (b unweighted)
//   a b         concatenation
//   a : b       cross product (every string of a rewritten as every string of b)
//   a* a+ a?    closures; a<w> adds weight w to every path of a
//   "text"  [NAME]  name  (a)
//   string_file("file.tsv")  input(a)  output(a)
// "text" is UTF-8; [NAME] is a markup symbol; SIGMA is any one character the
// grammar file mentions, or any other character. '#' starts a comment.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace TextPolishItn::grammar {

class GrammarError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Node {
  enum class Kind {
    kString, kMarker, kReference, kStringFile, kInput, kOutput,
    kUnion, kCompose, kDifference, kConcat, kCross, kStar, kPlus, kOptional, kWeight,
  };
  Kind kind;
  int line = 0;
  std::string text;  // string, marker or definition name, file path
  double weight = 0.0;
  std::vector<std::unique_ptr<Node>> children;
};

struct Definition {
  std::string name;
  bool exported = false;
  int line = 0;
  std::unique_ptr<Node> expression;
};

struct Grammar {
  std::filesystem::path path;  // string_file names are relative to its folder
  std::vector<Definition> definitions;
};

}  // namespace TextPolishItn::grammar
