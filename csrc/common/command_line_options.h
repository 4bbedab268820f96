#pragma once
// A program's command line as data: its long options in the order they are
// added to the parser (which is also their order in the help output), each
// with exactly the settings the parser is given. Every program of the
// project declares its options this way, and one adapter hands them to the
// interpreter's argparse.
#include <string>
#include <vector>

namespace speech::common {

// How the parser turns an option's text into its value.
enum class OptionType {
  kUntyped,  // no type is given: the value stays the text as written
  kText,     // str
  kReal,     // float
  kInteger,  // int
  kFlag,     // the store_true action: the option takes no value
};

// The default the parser is given.
enum class DefaultKind {
  kAbsent,  // none is given (a required option)
  kNone,    // None: the option was not given
  kText,
  kReal,
  kInteger,
  kFalse,
  kTexts,  // a list of texts, for an option of several values
};

// nargs: one value when not given, "*" for any number, or an exact count.
constexpr int kOneValue = 0;
constexpr int kAnyCount = -1;

struct CommandLineOption {
  std::string flag;  // "--hop_duration"
  OptionType type = OptionType::kUntyped;
  int nargs = kOneValue;
  bool required = false;
  DefaultKind default_kind = DefaultKind::kAbsent;
  std::string text_default;
  double real_default = 0.0;
  long integer_default = 0;
  std::vector<std::string> texts_default;
  std::string help;  // empty: the option has no help text

  // The name the parsed value is stored under, as argparse derives it: the
  // flag without its leading dashes, inner dashes as underscores.
  std::string dest() const;
  bool is_numeric() const { return type == OptionType::kReal || type == OptionType::kInteger; }
};

struct CommandLine {
  std::string description;
  std::vector<CommandLineOption> options;
};

// Builders, so that a table reads as the parser calls it makes.
CommandLineOption required_option(const char* flag, OptionType type, const char* help);
CommandLineOption unset_option(const char* flag, OptionType type, const char* help = "");
CommandLineOption text_option(const char* flag, OptionType type, const char* value, const char* help = "");
CommandLineOption real_option(const char* flag, double value, const char* help = "");
CommandLineOption integer_option(const char* flag, long value, const char* help = "");
CommandLineOption flag_option(const char* flag, const char* help);
CommandLineOption texts_option(const char* flag, int nargs, OptionType type, std::vector<std::string> values,
                               const char* help = "");

}  // namespace speech::common
