// itn_bench (the plain build): a result line that cannot be written, worker
// counts that are no whole number in range, workers that cannot start, and
// an input whose reading fails midway all end it with status 1 and a
// message, never an abort.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "read_failure.h"
#include "shipped_rules.h"
#include "test_support.h"

namespace itn_test {
namespace {

const std::string kBench = ITN_BENCH;

std::vector<std::string> BenchArgs(const std::string& input, const std::string& workers) {
  return {kBench, kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3], input, workers};
}

std::string Lines(int count) {
  std::string content;
  for (int k = 0; k < count; ++k) content += "第" + std::to_string(k) + "行有三百五十块钱\n";
  return content;
}

TEST(BenchTest, ReadableInputPrintsItsResultLine) {
  ScratchFolder dir;
  const std::string input = dir.write("input.txt", Lines(20));
  for (const std::string workers : {"1", "3", "0008", "1024", "0000000000002"}) {
    const RunResult result = RunProgram(BenchArgs(input, workers));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.rfind("lines=20 workers=" + std::to_string(std::stoi(workers)) + " seconds=", 0), 0u)
        << result.out;
    EXPECT_EQ(result.err, "");
  }
}

TEST(BenchTest, ResultLineToAFullDeviceIsAnError) {
  ScratchFolder dir;
  const RunResult result = RunProgram(BenchArgs(dir.write("input.txt", Lines(20)), "2"), {}, "", "/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "错误: 无法写入标准输出: No space left on device\n");
}

// atoi read 1e3 as 1 and 3abc as 3; 100000 and 99999999999 ended in an
// uncaught std::system_error (status 134).
TEST(BenchTest, WorkerCountThatIsNoWholeNumberInRangeIsRefused) {
  ScratchFolder dir;
  const std::string input = dir.write("input.txt", Lines(20));
  for (const std::string workers :
       {"100000", "99999999999", "1e3", "3abc", "0", "-1", "", "+3", " 3", "3 ", "1025", "0x10", "3.0"}) {
    const RunResult result = RunProgram(BenchArgs(input, workers));
    EXPECT_EQ(result.status, 1) << "'" << workers << "'";
    EXPECT_EQ(result.out, "") << "'" << workers << "'";
    EXPECT_EQ(result.err, "错误: 工作线程数须为 1 到 1024 的十进制整数: " + workers + "\n") << "'" << workers << "'";
  }
}

// With 1 GB of address space, 1024 threads with their 8 MiB stacks cannot
// all start; 2 workers run under the same limit.
TEST(BenchTest, WorkerThatCannotStartIsAnError) {
  ScratchFolder dir;
  const std::string input = dir.write("input.txt", Lines(20));
  const auto limited = [&input](const std::string& workers) {
    std::vector<std::string> argv = BenchArgs(input, workers);
    argv.insert(argv.begin(), {"/bin/sh", "-c", "ulimit -s 8192 && ulimit -v 1048576 && exec \"$0\" \"$@\""});
    return RunProgram(argv);
  };
  const RunResult few = limited("2");
  EXPECT_EQ(few.status, 0) << few.err;
  EXPECT_EQ(few.out.rfind("lines=20 workers=2 seconds=", 0), 0u) << few.out;
  const RunResult many = limited("1024");
  EXPECT_EQ(many.status, 1) << many.out << many.err;
  EXPECT_EQ(many.out, "");
  EXPECT_EQ(many.err, "错误: 无法启动工作线程: Resource temporarily unavailable\n");
}

// A time over part of the input would pass for the whole: a read that fails
// midway ends the bench before any timing.
TEST(BenchTest, ReadErrorInsideTheInputIsAnError) {
  ScratchFolder dir;
  const std::string input = dir.write("input.txt", Lines(2000));
  const RunResult result = RunProgram(BenchArgs(input, "2"), ReadFailsAfter(input, 8192));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, ReadFailed(input));
}

}  // namespace
}  // namespace itn_test
