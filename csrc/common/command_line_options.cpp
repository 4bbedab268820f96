#include "common/command_line_options.h"

#include <utility>

namespace speech::common {
namespace {

CommandLineOption named(const char* flag, OptionType type, DefaultKind default_kind, const char* help) {
  CommandLineOption option;
  option.flag = flag;
  option.type = type;
  option.default_kind = default_kind;
  option.help = help;
  return option;
}

}  // namespace

std::string CommandLineOption::dest() const {
  const size_t dashes = flag.find_first_not_of('-');
  std::string name = dashes == std::string::npos ? std::string() : flag.substr(dashes);
  for (char& c : name) {
    if (c == '-') c = '_';
  }
  return name;
}

CommandLineOption required_option(const char* flag, OptionType type, const char* help) {
  CommandLineOption option = named(flag, type, DefaultKind::kAbsent, help);
  option.required = true;
  return option;
}

CommandLineOption unset_option(const char* flag, OptionType type, const char* help) {
  return named(flag, type, DefaultKind::kNone, help);
}

CommandLineOption text_option(const char* flag, OptionType type, const char* value, const char* help) {
  CommandLineOption option = named(flag, type, DefaultKind::kText, help);
  option.text_default = value;
  return option;
}

CommandLineOption real_option(const char* flag, double value, const char* help) {
  CommandLineOption option = named(flag, OptionType::kReal, DefaultKind::kReal, help);
  option.real_default = value;
  return option;
}

CommandLineOption integer_option(const char* flag, long value, const char* help) {
  CommandLineOption option = named(flag, OptionType::kInteger, DefaultKind::kInteger, help);
  option.integer_default = value;
  return option;
}

CommandLineOption flag_option(const char* flag, const char* help) {
  return named(flag, OptionType::kFlag, DefaultKind::kFalse, help);
}

CommandLineOption texts_option(const char* flag, int nargs, OptionType type, std::vector<std::string> values,
                               const char* help) {
  CommandLineOption option = named(flag, type, DefaultKind::kTexts, help);
  option.nargs = nargs;
  option.texts_default = std::move(values);
  return option;
}

}  // namespace speech::common
