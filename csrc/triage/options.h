#pragma once
// The pipeline's command line as data: its 19 long options in the order they
// are added to the parser (which is also their order in the help output).
#include <string>
#include <vector>

namespace speech {

enum class TriageValue { kText, kReal, kInteger };

struct TriageOption {
  std::string flag;
  TriageValue type = TriageValue::kText;
  bool required = false;  // required options have no default
  std::string text_default;
  double real_default = 0.0;
  long integer_default = 0;
  std::string help;  // empty: the option has no help text
};

extern const char* const kTriageDescription;

const std::vector<TriageOption>& triage_options();

}  // namespace speech
