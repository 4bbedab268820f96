// The engine behind the textpolish interface. This header holds no
// std::string, so translation units of either string layout may include it.
#pragma once

#include <array>
#include <memory>
#include <string_view>
#include <vector>

namespace TextPolishItn {

class RuleTransducer;

class ItnEngine {
 public:
  // Rule files in the order tagger 1, verbalizer 1, tagger 2, verbalizer 2.
  using RulePaths = std::array<std::string_view, 4>;

  // Returns kPostItnOk and sets `engine`, or the code of the first rule file
  // that failed and leaves `engine` empty.
  static int Create(const RulePaths& paths, std::unique_ptr<ItnEngine>* engine) noexcept;

  // Use Create.
  explicit ItnEngine(std::array<std::unique_ptr<RuleTransducer>, 4> rules);
  ~ItnEngine();

  // Replaces `output` with the normalised `input`: unchanged when
  // `convert_number` is off, else rule set 1, then rule set 2 when
  // `unit_symbols` is on. On a failure `output` holds `input`.
  int Normalize(std::string_view input, bool convert_number, bool unit_symbols,
                std::vector<char>* output) const noexcept;

 private:
  std::array<std::unique_ptr<RuleTransducer>, 4> rules_;
};

}  // namespace TextPolishItn
