// The AddressSanitizer build of itn_bench: it refuses what itn_runner
// refuses (an input that is missing or a folder or whose reading fails, a
// rule file that does not load, standard output that cannot be written)
// and a worker count out of range with a non-zero exit, runs a readable
// input, and leaks nothing on any of these ways out.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "read_failure.h"
#include "shipped_rules.h"
#include "test_support.h"

namespace itn_test {
namespace {

// A leak report ends the program with its own status and text.
const std::vector<std::string> kLeakCheck = {"ASAN_OPTIONS=detect_leaks=1:exitcode=66"};

RunResult Bench(const std::string (&rules)[4], const std::string& input) {
  return RunProgram({ITN_BENCH_ASAN, rules[0], rules[1], rules[2], rules[3], input, "2"}, kLeakCheck);
}

TEST(AsanBenchTest, RefusedInputsFailWithoutALeak) {
  ScratchFolder dir;
  std::filesystem::create_directory(dir.path() / "folder.txt");
  for (const char* name : {"no_such_file.txt", "folder.txt"}) {
    const std::string input = dir.at(name);
    const RunResult result = Bench(kRuleFiles, input);
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_EQ(result.out, "") << name;
    EXPECT_EQ(result.err, "cannot open " + input + "\n") << name;
  }
}

TEST(AsanBenchTest, RuleFileThatDoesNotLoadFailsWithoutALeak) {
  ScratchFolder dir;
  std::string rules[4] = {kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], dir.write("bad.fst", "garbage")};
  const RunResult result = Bench(rules, dir.write("input.txt", "三百\n"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "engine creation failed: -4\n");
}

// The other refusals: a read that fails midway (the sanitizer's runtime
// then comes after the LD_PRELOAD shim, which it allows when told), a
// result line that cannot be written, a worker count out of range.
TEST(AsanBenchTest, ReadErrorFailsWithoutALeak) {
  ScratchFolder dir;
  std::string content;
  for (int k = 0; k < 1000; ++k) content += "三百五十块钱\n";
  const std::string input = dir.write("input.txt", content);
  std::vector<std::string> env = ReadFailsAfter(input, 8192);
  env.push_back("ASAN_OPTIONS=detect_leaks=1:exitcode=66:verify_asan_link_order=0");
  const RunResult result =
      RunProgram({ITN_BENCH_ASAN, kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3], input, "2"}, env);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, ReadFailed(input));
}

TEST(AsanBenchTest, FullOutputAndBadWorkerCountFailWithoutALeak) {
  ScratchFolder dir;
  const std::string input = dir.write("input.txt", "三百五十块钱\n");
  const RunResult full = RunProgram({ITN_BENCH_ASAN, kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3], input, "2"},
                                    kLeakCheck, "", "/dev/full");
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, "错误: 无法写入标准输出: No space left on device\n");
  const RunResult bad = RunProgram(
      {ITN_BENCH_ASAN, kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3], input, "100000"}, kLeakCheck);
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, "错误: 工作线程数须为 1 到 1024 的十进制整数: 100000\n");
}

TEST(AsanBenchTest, ReadableInputRunsWithoutALeak) {
  ScratchFolder dir;
  const RunResult result = Bench(kRuleFiles, dir.write("input.txt", "三百五十块钱\n\n五千克\n一万亿\n"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out.rfind("lines=3 workers=2 seconds=", 0), 0u) << result.out;
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace itn_test
