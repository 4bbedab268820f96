// The AddressSanitizer build of itn_bench: it refuses what itn_runner
// refuses (an input that is missing or a folder, a rule file that does not
// load) with a non-zero exit, runs a readable input, and leaks nothing on
// any of these ways out.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

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

TEST(AsanBenchTest, ReadableInputRunsWithoutALeak) {
  ScratchFolder dir;
  const RunResult result = Bench(kRuleFiles, dir.write("input.txt", "三百五十块钱\n\n五千克\n一万亿\n"));
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out.rfind("lines=3 workers=2 seconds=", 0), 0u) << result.out;
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace itn_test
