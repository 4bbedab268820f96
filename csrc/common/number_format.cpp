#include "common/number_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace speech::common {
namespace {

bool special(double value, std::string* out) {
  if (std::isnan(value)) {
    *out = "nan";
    return true;
  }
  if (std::isinf(value)) {
    *out = value > 0 ? "inf" : "-inf";
    return true;
  }
  return false;
}

std::string printf_double(const char* format, int decimals, double value) {
  char buf[512];
  std::snprintf(buf, sizeof buf, format, decimals, value);
  return buf;
}

}  // namespace

std::string format_fixed(double value, int decimals) {
  std::string text;
  if (special(value, &text)) return text;
  // Large magnitudes need more room than the stack buffer holds.
  const int needed = std::snprintf(nullptr, 0, "%.*f", decimals, value);
  std::string out(static_cast<size_t>(needed) + 1, '\0');
  std::snprintf(out.data(), out.size(), "%.*f", decimals, value);
  out.resize(static_cast<size_t>(needed));
  return out;
}

std::string format_exp(double value, int decimals) {
  std::string text;
  if (special(value, &text)) return text;
  return printf_double("%.*e", decimals, value);
}

std::string format_repr(double value) {
  std::string text;
  if (special(value, &text)) return text;
  // Shortest round-trip digits, then the interpreter's layout: plain notation
  // for exponents in [-4, 16), otherwise d.ddde+XX.
  char buf[64];
  int precision = 1;
  for (; precision <= 17; ++precision) {
    std::snprintf(buf, sizeof buf, "%.*e", precision - 1, value);
    if (std::strtod(buf, nullptr) == value) break;
  }
  std::string mantissa(buf);
  const size_t e_pos = mantissa.find('e');
  const int exponent = std::atoi(mantissa.c_str() + e_pos + 1);
  std::string digits;
  const bool negative = mantissa[0] == '-';
  for (size_t i = negative ? 1 : 0; i < e_pos; ++i) {
    if (mantissa[i] != '.') digits += mantissa[i];
  }
  std::string out = negative ? "-" : "";
  if (exponent >= 16 || exponent < -4) {
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    char exp_buf[16];
    std::snprintf(exp_buf, sizeof exp_buf, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    return out + exp_buf;
  }
  if (exponent < 0) {
    return out + "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  }
  const size_t int_len = static_cast<size_t>(exponent) + 1;
  if (digits.size() <= int_len) {
    return out + digits + std::string(int_len - digits.size(), '0') + ".0";
  }
  return out + digits.substr(0, int_len) + "." + digits.substr(int_len);
}

}  // namespace speech::common
