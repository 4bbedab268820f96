// The ThreadSanitizer build of itn_runner and the engine on a few hundred
// lines: no data race is reported, and every line's result equals a
// single-threaded call on that line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_bridge.h"
#include "shipped_rules.h"
#include "test_support.h"
#include "textpolish_itn_status.h"

namespace itn_test {
namespace {

// Pieces of every kind the rules handle, joined in ever different pairs.
std::vector<std::string> GeneratedLines(int count) {
  const std::vector<std::string> pieces = {
      "一百二十三", "两万三千四百五十六", "三点一四", "负五", "百分之十五", "五千克",
      "三点五公里", "气温负五摄氏度", "二零二四年三月五日", "三百五十块钱",
      "电话一三八零零一三八零零零", "今天天气很好", "这件事十分重要", "iPhone十五",
      "一亿零五百万", "跑了10公里", "我有三个苹果", "\xF0\x9F\x98\x80", " ", "\r"};
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    const size_t n = pieces.size();
    lines.push_back(pieces[i % n] + pieces[(i / n + 7 * i + 3) % n] + pieces[(3 * i + 1) % n]);
  }
  return lines;
}

TEST(TsanRunnerTest, NoRaceAndResultsMatchSingleThreadedCalls) {
  constexpr int kLines = 400;
  constexpr int kWorkers = 8;
  const std::vector<std::string> lines = GeneratedLines(kLines);
  ScratchFolder dir;
  std::string content;
  for (const std::string& line : lines) content += line + "\n";
  const std::string input = dir.write("input.txt", content);

  const RunResult result = RunProgram(
      {ITN_RUNNER_TSAN, kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3], input, "1", "0"},
      {"TSAN_OPTIONS=halt_on_error=1 exitcode=66"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err.find("ThreadSanitizer"), std::string::npos) << result.err;

  const std::vector<std::string> out = SplitLines(result.out);
  ASSERT_EQ(out.size(), 2u + kLines);
  EngineHandle engine(kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3]);
  ASSERT_EQ(engine.create_code(), TextPolishItn::kPostItnOk);
  size_t printed = 2;
  for (int worker = 0; worker < kWorkers; ++worker) {
    for (int k = worker; k < kLines; k += kWorkers, ++printed) {
      const Normalized alone = engine.Process(lines[k], true, 0);
      ASSERT_EQ(alone.code, TextPolishItn::kPostItnOk);
      const std::string head =
          lines[k] + " --> " + std::string(alone.text.begin(), alone.text.end()) + ", time_cost=";
      EXPECT_EQ(out[printed].substr(0, head.size()), head) << "line " << k;
    }
  }
}

}  // namespace
}  // namespace itn_test
