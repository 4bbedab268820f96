// Turns a parsed grammar into OpenFst transducers over the engine's labels.
#pragma once

#include <fst/fst-decl.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "grammar_ast.h"
#include "itn_labels.h"

namespace TextPolishItn::grammar {

class GrammarBuilder {
 public:
  // Evaluates every definition; throws GrammarError.
  explicit GrammarBuilder(const Grammar& grammar);
  ~GrammarBuilder();

  // The exported definition `name`, epsilon-free, determinised on label and
  // weight pairs, minimised and sorted by input label.
  fst::StdVectorFst Export(const std::string& name) const;

 private:
  using Rows = std::vector<std::pair<std::string, std::string>>;

  void Scan(const Node& node);
  fst::StdVectorFst Evaluate(const Node& node) const;
  fst::StdVectorFst Text(const std::string& text, int line) const;
  fst::StdVectorFst Sigma() const;
  [[noreturn]] void Fail(int line, const std::string& message) const;

  std::string file_;
  std::filesystem::path folder_;
  std::set<ItnLabel> alphabet_;  // every character the grammar mentions
  std::map<std::string, ItnLabel> markers_;
  std::map<std::string, Rows> string_files_;
  std::map<std::string, std::unique_ptr<fst::StdVectorFst>> definitions_;
  std::set<std::string> exported_;
};

}  // namespace TextPolishItn::grammar
