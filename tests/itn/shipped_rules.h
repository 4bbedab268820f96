// The rule files compiled from the project's grammars (their folder,
// ITN_RULES_DIR, comes from the build), and numbers that those rules must
// turn into their values.
#pragma once

#include <string>

namespace itn_test {

inline const std::string kRuleFiles[4] = {
    std::string(ITN_RULES_DIR) + "/tagger_rule1.fst", std::string(ITN_RULES_DIR) + "/verbalizer_rule1.fst",
    std::string(ITN_RULES_DIR) + "/tagger_rule2.fst", std::string(ITN_RULES_DIR) + "/verbalizer_rule2.fst"};

struct SpokenNumber {
  const char* spoken;
  const char* value;
};

// Numbers whose count of 亿 holds a 万 group: whole groups, 零 for skipped
// places, missing groups, 两.
inline constexpr SpokenNumber kWanInsideYi[] = {
    {"九千九百九十九万九千九百九十九亿九千九百九十九万九千九百九十九", "9999999999999999"},
    {"一万亿", "1000000000000"},
    {"两万亿", "2000000000000"},
    {"四十万亿", "40000000000000"},
    {"三千万亿", "3000000000000000"},
    {"两千两百万亿", "2200000000000000"},
    {"三千零五万亿", "3005000000000000"},
    {"两万三千亿", "2300000000000"},
    {"一万零一亿", "1000100000000"},
    {"七万零五亿零六十", "7000500000060"},
    {"一万亿零一", "1000000000001"},
    {"五万亿零三百万", "5000003000000"},
    {"一百万亿零一万", "100000000010000"},
    {"九万九千九百九十九亿零九", "9999900000009"},
    {"十二万三千四百五十六亿七千八百九十万", "12345678900000"},
    {"两百零八万亿零七百万零五", "208000007000005"},
};

}  // namespace itn_test
