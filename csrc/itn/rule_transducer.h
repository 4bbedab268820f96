// One compiled rule FST, loaded once and then only read, so any number of
// threads may apply it at the same time.
#pragma once

#include <fst/fst-decl.h>

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "text_items.h"

namespace TextPolishItn {

class RuleTransducer {
 public:
  // Null when the file cannot be read or holds no usable rule FST.
  static std::unique_ptr<RuleTransducer> Load(std::string_view path);

  // Use Load; `fst` must be sorted by input label, `alphabet` its input labels.
  RuleTransducer(std::unique_ptr<fst::StdVectorFst> fst, std::vector<bool> alphabet);
  ~RuleTransducer();

  // The best-weighted output of the rules for `input`, or nothing when the
  // rules have no reading of it. Characters the rules do not mention go in
  // as kOtherLabel and come back as they were.
  std::optional<std::vector<TextItem>> Apply(const std::vector<TextItem>& input) const;

 private:
  bool Knows(ItnLabel label) const;

  std::unique_ptr<fst::StdVectorFst> fst_;
  std::vector<bool> alphabet_;  // input labels the rules mention
};

}  // namespace TextPolishItn
