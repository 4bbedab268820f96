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

// Sentences whose numerals are no one number, which the rules leave as
// written: rough counts of two neighbouring numerals (before a unit, a
// currency, a percent, after 第), idioms made of numerals, and runs that
// cannot be read as one number. Converting a part of such a run would write
// digits that mean another value (十五六岁 as 15六岁, 三四百 as 三400).
inline constexpr const char* kLeftAsWritten[] = {
    "他今年十五六岁了",
    "大约三四百人",
    "五六十个苹果",
    "四五十岁的人",
    "第十五六届",
    "百分之三四十",
    "他把事情一五一十地说了",
    "五亿八千零三",
    "十七八岁的少年",
    "二三十年前",
    "三四万人参加",
    "六七千万",
    "十一二岁",
    "一二百个",
    "一百五六十人",
    "三千四五百",
    "七八十块钱",
    "两三千元",
    "三五百元",
    "五六千克",
    "八九百米",
    "二三十公里",
    "增长了百分之八九十",
    "第二三名",
    "东西七七八八都收拾好了",
    "人分三六九等",
    "不管三七二十一",
    "人们三三两两地走来",
    "千千万万的人",
    "九九八十一难",
    // 几 (several) before a number.
    "几十万人",
    "几十块钱",
    "好几十亿",
    // No 零 after 亿 where the 万 group is empty, no 零 before the units.
    "八千零二十一亿八千六百零九",
    "七十亿一千",
};

}  // namespace itn_test
