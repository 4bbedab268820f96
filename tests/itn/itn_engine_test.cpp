// The textpolish engine with the rule files compiled from our grammars.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine_bridge.h"
#include "shipped_rules.h"
#include "test_support.h"
#include "textpolish_itn_status.h"

namespace itn_test {
namespace {

using namespace TextPolishItn;

std::string Text(const Normalized& normalized) {
  return std::string(normalized.text.begin(), normalized.text.end());
}

class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    engine_ = std::make_unique<EngineHandle>(kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3]);
    ASSERT_EQ(engine_->create_code(), kPostItnOk);
  }
  static void TearDownTestSuite() { engine_.reset(); }

  // Normalises with rule set 1 only (units stay words) or both rule sets.
  static std::string Normalize(const std::string& input, bool unit_symbols) {
    const Normalized result = engine_->Process(input, true, unit_symbols ? 0 : 1);
    EXPECT_EQ(result.code, kPostItnOk) << input;
    return Text(result);
  }

  static std::unique_ptr<EngineHandle> engine_;
};

std::unique_ptr<EngineHandle> EngineTest::engine_;

struct Sentence {
  const char* input;
  const char* numbers;  // rule set 1
  const char* symbols;  // rule sets 1 and 2
};

void PrintTo(const Sentence& s, std::ostream* out) { *out << '"' << s.input << '"'; }

class SentenceTest : public EngineTest, public ::testing::WithParamInterface<Sentence> {};

TEST_P(SentenceTest, Normalizes) {
  const Sentence& s = GetParam();
  EXPECT_EQ(Normalize(s.input, false), s.numbers);
  EXPECT_EQ(Normalize(s.input, true), s.symbols);
}

TEST_P(SentenceTest, ConvertNumberOffLeavesTextUnchanged) {
  for (int unit_symbol_type : {0, 1}) {
    const Normalized result = engine_->Process(GetParam().input, false, unit_symbol_type);
    EXPECT_EQ(result.code, kPostItnOk);
    EXPECT_EQ(Text(result), GetParam().input);
  }
}

INSTANTIATE_TEST_SUITE_P(Numbers, SentenceTest, ::testing::Values(
    Sentence{"一百二十三", "123", "123"},
    Sentence{"三百零五人", "305人", "305人"},
    Sentence{"一千零二十", "1020", "1020"},
    Sentence{"两万三千四百五十六", "23456", "23456"},
    Sentence{"三万零五百", "30500", "30500"},
    Sentence{"一万零五十", "10050", "10050"},
    Sentence{"十万", "100000", "100000"},
    Sentence{"一亿两千万", "120000000", "120000000"},
    Sentence{"一亿零五百万", "105000000", "105000000"},
    Sentence{"九千九百九十九亿九千九百九十九万九千九百九十九", "999999999999", "999999999999"},
    // Spoken abbreviations.
    Sentence{"三万五", "35000", "35000"},
    Sentence{"两百五", "250", "250"},
    Sentence{"一千二", "1200", "1200"},
    Sentence{"三点一四一五九", "3.14159", "3.14159"},
    Sentence{"零点五", "0.5", "0.5"},
    Sentence{"负三点五", "-3.5", "-3.5"},
    Sentence{"负五", "-5", "-5"},
    Sentence{"我用了二十个", "我用了20个", "我用了20个"},
    // A lone numeral is part of a word.
    Sentence{"我有三个苹果", "我有三个苹果", "我有三个苹果"}));

std::vector<Sentence> WanInsideYiSentences() {
  std::vector<Sentence> sentences;
  for (const SpokenNumber& number : kWanInsideYi) {
    sentences.push_back(Sentence{number.spoken, number.value, number.value});
  }
  sentences.push_back(Sentence{"国家投入了三万亿元", "国家投入了3000000000000元", "国家投入了3000000000000元"});
  sentences.push_back(Sentence{"负两万亿", "-2000000000000", "-2000000000000"});
  sentences.push_back(Sentence{"一万亿点五", "1000000000000.5", "1000000000000.5"});
  // A count of 亿 with a 亿 of its own is beyond the rules: it stays a word.
  sentences.push_back(Sentence{"一亿亿", "100000000亿", "100000000亿"});
  return sentences;
}

INSTANTIATE_TEST_SUITE_P(WanInsideYi, SentenceTest, ::testing::ValuesIn(WanInsideYiSentences()));

std::vector<Sentence> LeftAsWrittenSentences() {
  std::vector<Sentence> sentences;
  for (const char* input : kLeftAsWritten) sentences.push_back(Sentence{input, input, input});
  return sentences;
}

// Rough counts, idioms and runs that are no one number stay as written;
// the numbers around them still convert.
INSTANTIATE_TEST_SUITE_P(RoughCountsAndIdioms, SentenceTest, ::testing::ValuesIn(LeftAsWrittenSentences()));

INSTANTIATE_TEST_SUITE_P(RoughCountsBesideNumbers, SentenceTest, ::testing::Values(
    Sentence{"他十五六岁，身高一百七十厘米", "他十五六岁，身高170厘米", "他十五六岁，身高170cm"},
    Sentence{"三四百人花了两千元", "三四百人花了2000元", "三四百人花了2000元"},
    Sentence{"五六千克和三千克", "五六千克和3千克", "五六千克和3kg"},
    Sentence{"百分之三四十到百分之五十", "百分之三四十到50%", "百分之三四十到50%"},
    // One number stays one number, however long its run.
    Sentence{"一百五十六人", "156人", "156人"},
    Sentence{"三千四百五十", "3450", "3450"},
    Sentence{"五亿零八千零三", "500008003", "500008003"},
    Sentence{"八千零二十一亿零八千六百零九", "802100008609", "802100008609"},
    // Digits read one by one are one run too.
    Sentence{"电话一三八七七八八九九九九", "电话13877889999", "电话13877889999"},
    Sentence{"十七八", "十七八", "十七八"},
    Sentence{"二十几岁", "20几岁", "20几岁"}));

INSTANTIATE_TEST_SUITE_P(DatesMoneyPhones, SentenceTest, ::testing::Values(
    Sentence{"今年二零二四年三月五日", "今年2024年3月5日", "今年2024年3月5日"},
    Sentence{"二零二四年十二月三十一号", "2024年12月31号", "2024年12月31号"},
    Sentence{"十一月十一日", "11月11日", "11月11日"},
    Sentence{"一九九八年", "1998年", "1998年"},
    Sentence{"这件衣服三百五十块钱", "这件衣服350块钱", "这件衣服350块钱"},
    Sentence{"五块钱", "5块钱", "5块钱"},
    Sentence{"两千五百美元", "2500美元", "2500美元"},
    Sentence{"价格是 三百 元", "价格是 300 元", "价格是 300 元"},
    Sentence{"我的电话是一三八零零一三八零零零", "我的电话是13800138000", "我的电话是13800138000"},
    Sentence{"请拨打幺幺零", "请拨打110", "请拨打110"}));

INSTANTIATE_TEST_SUITE_P(PercentsAndUnits, SentenceTest, ::testing::Values(
    Sentence{"增长了百分之十五", "增长了15%", "增长了15%"},
    Sentence{"百分之三点五", "3.5%", "3.5%"},
    Sentence{"百分之百", "100%", "100%"},
    Sentence{"五千克", "5千克", "5kg"},
    Sentence{"三点五公里", "3.5公里", "3.5km"},
    Sentence{"两公里", "2公里", "2km"},
    Sentence{"一百毫升水", "100毫升水", "100mL水"},
    Sentence{"气温负五摄氏度", "气温-5摄氏度", "气温-5℃"},
    Sentence{"二十五摄氏度", "25摄氏度", "25℃"},
    // Arabic numbers already in the text get their unit symbols too.
    Sentence{"跑了10公里", "跑了10公里", "跑了10km"},
    // A unit word without a number stays a word.
    Sentence{"公里数不准", "公里数不准", "公里数不准"}));

INSTANTIATE_TEST_SUITE_P(PlainAndMixedText, SentenceTest, ::testing::Values(
    Sentence{"今天天气很好", "今天天气很好", "今天天气很好"},
    Sentence{"这件事十分重要", "这件事十分重要", "这件事十分重要"},
    Sentence{"万一下雨怎么办", "万一下雨怎么办", "万一下雨怎么办"},
    Sentence{"千万不要迟到", "千万不要迟到", "千万不要迟到"},
    Sentence{"统一思想，一样努力", "统一思想，一样努力", "统一思想，一样努力"},
    Sentence{"", "", ""},
    Sentence{"我用iPhone十五拍了二十张照片", "我用iPhone15拍了20张照片", "我用iPhone15拍了20张照片"},
    Sentence{"Python三点一二发布了", "Python3.12发布了", "Python3.12发布了"},
    Sentence{"版本v二点零 is out", "版本v2.0 is out", "版本v2.0 is out"},
    // Characters no rule mentions, and bytes that are not UTF-8, come back
    // where they were.
    Sentence{"\xF0\x9F\x98\x80二十个\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80" "20个\xF0\x9F\x98\x80",
             "\xF0\x9F\x98\x80" "20个\xF0\x9F\x98\x80"},
    Sentence{"\xff坏字节三百\r", "\xff坏字节300\r", "\xff坏字节300\r"},
    Sentence{"三百\xe4\xb8公里", "300\xe4\xb8公里", "300\xe4\xb8公里"}));

// The standard spelling of `n` (0 < n < 10^12): 零 for skipped places,
// also across an empty 万 group; 十 alone for a leading ten.
std::string Spell(unsigned long long n) {
  static const char* const kDigit[] = {"零", "一", "二", "三", "四", "五", "六", "七", "八", "九"};
  static const char* const kPlace[] = {"", "十", "百", "千"};
  const std::string digits = std::to_string(n);
  const size_t length = digits.size();
  std::string out;
  bool seen = false, zero = false;
  unsigned group = 0;  // value of the 4-digit group read so far
  for (size_t i = 0; i < length; ++i) {
    const size_t pos = length - 1 - i;
    const int d = digits[i] - '0';
    group = group * 10 + d;
    if (d == 0) {
      zero = zero || seen;
    } else {
      if (zero) out += "零";
      zero = false;
      if (!(i == 0 && d == 1 && pos % 4 == 1)) out += kDigit[d];
      out += kPlace[pos % 4];
      seen = true;
    }
    if (pos % 4 == 0 && pos > 0) {
      if (group != 0) {
        out += pos == 4 ? "万" : "亿";
        zero = false;
      }
      group = 0;
    }
  }
  return out;
}

TEST(SpellTest, StandardSpellings) {
  EXPECT_EQ(Spell(15), "十五");
  EXPECT_EQ(Spell(110), "一百一十");
  EXPECT_EQ(Spell(10050), "一万零五十");
  EXPECT_EQ(Spell(150000), "十五万");
  EXPECT_EQ(Spell(100000001), "一亿零一");
  EXPECT_EQ(Spell(105000000), "一亿零五百万");
  EXPECT_EQ(Spell(954005095), "九亿五千四百万五千零九十五");
  EXPECT_EQ(Spell(802100008609), "八千零二十一亿零八千六百零九");
  EXPECT_EQ(Spell(999999999999), "九千九百九十九亿九千九百九十九万九千九百九十九");
}

// 20,000 random numbers below 10^12, of every length and with runs of
// zeros, in their standard spelling: each becomes its value (a numeral of
// one character alone stays a word).
TEST_F(EngineTest, RandomNumbersBecomeTheirValues) {
  std::mt19937_64 random(28);
  const auto below = [&random](int n) { return static_cast<int>(random() % n); };
  for (int k = 0; k < 20000; ++k) {
    const int length = 1 + below(12);
    unsigned long long n = 1 + below(9);
    for (int i = 1; i < length; ++i) n = n * 10 + (below(3) == 0 ? 1 + below(9) : below(3) == 0 ? below(10) : 0);
    const std::string spoken = Spell(n);
    const std::string expected = n < 10 || n == 10 ? spoken : std::to_string(n);
    ASSERT_EQ(Normalize(spoken, true), expected) << n;
    ASSERT_EQ(Normalize("共有" + spoken + "人", false), "共有" + expected + "人") << n;
  }
}

TEST_F(EngineTest, LongLine) {
  std::string input, expected;
  for (int i = 0; i < 300; ++i) {
    input += "共有三百五十块钱和";
    expected += "共有350块钱和";
  }
  EXPECT_EQ(Normalize(input, true), expected);
}

// A rule file that cannot be read, or that is no rule FST, fails creation
// with the code of its place; the null handle left behind is safe to use.
TEST(EngineCreationTest, BadRuleFileIsReportedAndItsHandleIsSafe) {
  ScratchFolder dir;
  const std::string real = ReadFile(kRuleFiles[0]);
  // A well-formed FST whose negative weight no rule file may carry.
  const std::string negative_text = dir.write("negative.txt", "0 1 97 97 -1\n1\n");
  const std::string negative = dir.at("negative.fst");
  ASSERT_EQ(RunProgram({ITN_FSTCOMPILE, negative_text, negative}).status, 0);
  const std::string bad_files[] = {
      negative,
      dir.at("missing.fst"),
      dir.write("text.fst", "this is not an FST\n"),
      dir.write("empty.fst", ""),
      dir.write("truncated.fst", real.substr(0, real.size() / 2)),
      dir.write("header_only.fst", real.substr(0, 24)),
  };
  const int codes[4] = {kPostItnBadTaggerRule1, kPostItnBadVerbalizerRule1,
                        kPostItnBadTaggerRule2, kPostItnBadVerbalizerRule2};
  for (int place = 0; place < 4; ++place) {
    for (const std::string& bad : bad_files) {
      std::string files[4] = {kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3]};
      files[place] = bad;
      EngineHandle engine(files[0], files[1], files[2], files[3]);
      EXPECT_EQ(engine.create_code(), codes[place]) << bad << " in place " << place + 1;
      EXPECT_TRUE(engine.is_null());
      const Normalized result = engine.Process("三百元", true, 0);
      EXPECT_EQ(result.code, kPostItnNoEngine);
      EXPECT_EQ(Text(result), "三百元");
    }
  }
}

TEST(EngineCreationTest, TextTheRulesCannotReadComesBackUnchanged) {
  ScratchFolder dir;
  // A tagger that reads the one text "a" and nothing else.
  const std::string source = dir.write("only_a.txt", "0 1 97 97\n1\n");
  const std::string only_a = dir.at("only_a.fst");
  ASSERT_EQ(RunProgram({ITN_FSTCOMPILE, source, only_a}).status, 0);
  EngineHandle engine(only_a, kRuleFiles[1], kRuleFiles[2], kRuleFiles[3]);
  ASSERT_EQ(engine.create_code(), kPostItnOk);
  const Normalized read = engine.Process("a", true, 0);
  EXPECT_EQ(read.code, kPostItnOk);
  EXPECT_EQ(Text(read), "a");
  const Normalized unread = engine.Process("三百元", true, 0);
  EXPECT_EQ(unread.code, kPostItnUnparsed);
  EXPECT_EQ(Text(unread), "三百元");
}

TEST(EngineRunnerTest, RunnerPrintsNormalizedLines) {
  ScratchFolder dir;
  const std::string input = dir.write("input.txt", "三百五十块钱\n\n五千克\n");
  for (const auto& [unit_switch, second] :
       {std::pair<std::string, std::string>{"1", "五千克 --> 5千克"}, {"0", "五千克 --> 5kg"}}) {
    const RunResult result =
        RunProgram({ITN_RUNNER, kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3], input, "1", unit_switch});
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::string> lines = SplitLines(result.out);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "模型加载完成。ret=0");
    EXPECT_EQ(lines[2].rfind("三百五十块钱 --> 350块钱, time_cost=", 0), 0u) << lines[2];
    EXPECT_EQ(lines[3].rfind(second + ", time_cost=", 0), 0u) << lines[3];
  }
}

TEST(EngineRunnerTest, RunnerStopsWhenARuleFileIsInvalid) {
  ScratchFolder dir;
  const std::string bad = dir.write("bad.fst", "garbage");
  const std::string input = dir.write("input.txt", "三百\n");
  const RunResult result = RunProgram({ITN_RUNNER, kRuleFiles[0], kRuleFiles[1], bad, kRuleFiles[3], input});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "正在加载FST模型...\n模型加载完成。ret=-3\n");
  EXPECT_EQ(result.err, "错误: 无法加载FST模型 " + bad + "\n");
}

}  // namespace
}  // namespace itn_test
