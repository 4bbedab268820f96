#pragma once
// The driver's command line as data: its 20 long options in the order they
// are added to the parser (which is also their order in the help output).
#include <string>
#include <vector>

namespace speech {

enum class OptionKind {
  kUntyped,  // the value stays the text as written
  kText,     // converted with str
  kReal,     // converted with float
  kInteger,  // converted with int
  kFlag,     // store_true, takes no value
};

enum class DefaultKind { kUnset, kText, kReal, kInteger, kFalse };

struct OptionSpec {
  std::string flag;
  OptionKind kind = OptionKind::kUntyped;
  DefaultKind default_kind = DefaultKind::kUnset;
  std::string text_default;
  double real_default = 0.0;
  long integer_default = 0;
  std::string help;  // empty: the option has no help text
};

extern const char* const kParserDescription;
extern const char* const kDefaultSaveDir;
extern const char* const kDefaultCheckpoint;

const std::vector<OptionSpec>& driver_options();

}  // namespace speech
