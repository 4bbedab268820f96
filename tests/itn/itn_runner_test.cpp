// itn_runner against the reflecting stand-in engine: command line, switches,
// console texts, dealing of lines to the workers, output order, exit codes,
// standard output that cannot be written. Then the runner on the shipped
// rules with the numbers they must read whole.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <iterator>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "read_failure.h"
#include "shipped_rules.h"
#include "test_support.h"

namespace itn_test {
namespace {

const std::string kRunner = ITN_RUNNER_REFLECT;
const std::string kLoading = "正在加载FST模型...\n";
const std::string kOutputFull = "错误: 无法写入标准输出: No space left on device\n";

std::string Loaded(int ret) { return "模型加载完成。ret=" + std::to_string(ret) + "\n"; }

std::string Usage(const std::string& prog) {
  return "用法: " + prog +
         " <tagger_rule1.fst> <verbalizer_rule1.fst> <tagger_rule2.fst> <verbalizer_rule2.fst>"
         " <input_file> [convert_number] [unit_symbol_type]\n"
         "  input_file        : 输入文本文件路径\n"
         "  convert_number    : 是否转换数字 (1=是, 0=否, 默认1)\n"
         "  unit_symbol_type  : 单位符号类型 (1=启用rule1, 0=使用rule2, 默认1)\n"
         "从指定文件逐行读取文本，输出归一化结果。\n";
}

// What the stand-in writes in front of each input that a worker hands it.
std::string Reflected(bool convert_number, bool unit_symbol_type) {
  return std::string("[convert_number=") + (convert_number ? "1" : "0") +
         " unit_symbol_type=" + (unit_symbol_type ? "1" : "0") +
         " debug_level=0 rules=0 output_empty=1 reserved=0]";
}

class RunnerTest : public ::testing::Test {
 protected:
  RunnerTest() {
    for (int i = 1; i <= 4; ++i) rules_.push_back(dir_.write("rule" + std::to_string(i) + ".fst", "rule"));
    trace_ = dir_.at("trace");
  }

  RunResult RunOn(const std::string& input_path, const std::vector<std::string>& switches = {},
                  const std::string& stdout_path = "", std::vector<std::string> env = {}) {
    std::vector<std::string> argv{kRunner};
    argv.insert(argv.end(), rules_.begin(), rules_.end());
    argv.push_back(input_path);
    argv.insert(argv.end(), switches.begin(), switches.end());
    env.push_back("ITN_REFLECT_TRACE=" + trace_);
    return RunProgram(argv, env, "", stdout_path);
  }

  RunResult RunText(const std::string& content, const std::vector<std::string>& switches = {}) {
    return RunOn(dir_.write("input.txt", content), switches);
  }

  std::vector<std::string> Trace() const { return SplitLines(ReadFile(trace_)); }

  std::string CreateTrace(bool convert_number, bool unit_symbol_type) const {
    return std::string("create convert_number=") + (convert_number ? "1" : "0") +
           " unit_symbol_type=" + (unit_symbol_type ? "1" : "0") + " debug_level=0 rules=" +
           rules_[0] + "|" + rules_[1] + "|" + rules_[2] + "|" + rules_[3] + " reserved=0";
  }

  // The log lines of a successful run, after the two loading lines.
  std::vector<std::string> LogLines(const RunResult& result) const {
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out.substr(0, kLoading.size() + Loaded(0).size()), kLoading + Loaded(0));
    std::vector<std::string> lines = SplitLines(result.out);
    return std::vector<std::string>(lines.begin() + std::min<size_t>(2, lines.size()), lines.end());
  }

  ScratchFolder dir_;
  std::vector<std::string> rules_;
  std::string trace_;
};

// Checks one log line for `input` and returns its time in milliseconds.
long ExpectLogLine(const std::string& line, const std::string& input, const std::string& reflected) {
  const std::string head = input + " --> " + reflected + input + ", time_cost=";
  EXPECT_EQ(line.substr(0, head.size()), head);
  static const std::regex kTime("[0-9]+ms");
  const std::string tail = line.size() >= head.size() ? line.substr(head.size()) : "";
  EXPECT_TRUE(std::regex_match(tail, kTime)) << "time part: " << tail;
  return std::atol(tail.c_str());
}

struct SwitchCase {
  std::vector<std::string> switches;
  bool convert_number;
  bool unit_symbol_type;
};

void PrintTo(const SwitchCase& c, std::ostream* out) {
  *out << "switches";
  for (const std::string& s : c.switches) *out << " '" << s << "'";
}

class RunnerSwitchTest : public RunnerTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(RunnerSwitchTest, BothRecordsGetTheSwitches) {
  const SwitchCase& c = GetParam();
  const RunResult result = RunText("one\ntwo\n", c.switches);
  const std::vector<std::string> logs = LogLines(result);
  ASSERT_EQ(logs.size(), 2u);
  ExpectLogLine(logs[0], "one", Reflected(c.convert_number, c.unit_symbol_type));
  ExpectLogLine(logs[1], "two", Reflected(c.convert_number, c.unit_symbol_type));
  const std::vector<std::string> trace = Trace();
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_EQ(trace[0], CreateTrace(c.convert_number, c.unit_symbol_type));
  EXPECT_EQ(trace[1], "destroy processed=2");
}

INSTANTIATE_TEST_SUITE_P(
    Switches, RunnerSwitchTest,
    ::testing::Values(
        SwitchCase{{}, true, true}, SwitchCase{{"0"}, false, true}, SwitchCase{{"1"}, true, true},
        SwitchCase{{"1", "0"}, true, false}, SwitchCase{{"0", "0"}, false, false},
        // Off: no digits, hex is not read, empty text.
        SwitchCase{{"abc", "abc"}, false, false}, SwitchCase{{"0x10", "0x10"}, false, false},
        SwitchCase{{"", ""}, false, false},
        // On: any non-zero value, a sign, leading blanks, trailing junk.
        SwitchCase{{"2", "-3"}, true, true}, SwitchCase{{" 5", "1x"}, true, true},
        // The value is narrowed to a 32-bit int: 2^32 reads as 0.
        SwitchCase{{"4294967296", "4294967297"}, false, true},
        // Arguments after the seventh are ignored.
        SwitchCase{{"1", "0", "1", "extra"}, true, false}));

struct OrderCase {
  int lines;
  std::vector<int> printed;
};

void PrintTo(const OrderCase& c, std::ostream* out) { *out << c.lines << " lines"; }

class RunnerOrderTest : public RunnerTest, public ::testing::WithParamInterface<OrderCase> {};

// Line k goes to worker k mod 8 and the output is grouped by worker; empty
// lines are dropped before dealing.
TEST_P(RunnerOrderTest, OutputIsGroupedByWorker) {
  const OrderCase& c = GetParam();
  std::string content = "\n";
  for (int k = 0; k < c.lines; ++k) content += "line" + std::to_string(k) + "\n\n";
  const std::vector<std::string> logs = LogLines(RunText(content));
  ASSERT_EQ(logs.size(), c.printed.size());
  for (size_t i = 0; i < logs.size(); ++i) {
    ExpectLogLine(logs[i], "line" + std::to_string(c.printed[i]), Reflected(true, true));
  }
  EXPECT_EQ(Trace().back(), "destroy processed=" + std::to_string(c.lines));
}

INSTANTIATE_TEST_SUITE_P(
    Dealing, RunnerOrderTest,
    ::testing::Values(OrderCase{0, {}}, OrderCase{3, {0, 1, 2}},
                      OrderCase{10, {0, 8, 1, 9, 2, 3, 4, 5, 6, 7}},
                      OrderCase{17, {0, 8, 16, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15}}));

TEST_F(RunnerTest, LinesKeepCarriageReturnsAndBlanks) {
  const std::vector<std::string> logs = LogLines(RunText("dos\r\n   \n\n\r\nlast"));
  ASSERT_EQ(logs.size(), 4u);
  ExpectLogLine(logs[0], "dos\r", Reflected(true, true));
  ExpectLogLine(logs[1], "   ", Reflected(true, true));
  ExpectLogLine(logs[2], "\r", Reflected(true, true));
  ExpectLogLine(logs[3], "last", Reflected(true, true));
}

TEST_F(RunnerTest, FileWithoutLinesStillCreatesAndDestroysTheEngine) {
  for (const std::string content : {"", "\n\n\n"}) {
    std::filesystem::remove(trace_);
    const RunResult result = RunText(content);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kLoading + Loaded(0));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(Trace(), (std::vector<std::string>{CreateTrace(true, true), "destroy processed=0"}));
  }
}

TEST_F(RunnerTest, TooFewArgumentsPrintUsage) {
  for (size_t given = 0; given < 5; ++given) {
    std::vector<std::string> argv{kRunner};
    for (size_t i = 0; i < given; ++i) argv.push_back(rules_[std::min<size_t>(i, 3)]);
    const RunResult result = RunProgram(argv, {"ITN_REFLECT_TRACE=" + trace_});
    EXPECT_EQ(result.status, 1) << given << " arguments";
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, Usage(kRunner));
  }
  EXPECT_FALSE(std::filesystem::exists(trace_)) << "nothing may be loaded";
}

TEST_F(RunnerTest, UsageNamesTheProgramAsStarted) {
  const RunResult result = RunProgram({"itn_alias", rules_[0]}, {}, kRunner);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, Usage("itn_alias"));
}

// A missing file and a folder (which opens as a stream that reads nothing)
// are both unreadable inputs; the engine is destroyed on the way out.
TEST_F(RunnerTest, UnreadableInputFailsAfterLoading) {
  std::filesystem::create_directory(dir_.path() / "folder.txt");
  for (const char* name : {"no_such_file.txt", "folder.txt"}) {
    std::filesystem::remove(trace_);
    const std::string input = dir_.at(name);
    const RunResult result = RunOn(input);
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_EQ(result.out, kLoading + Loaded(0)) << name;
    EXPECT_EQ(result.err, "错误: 无法打开文件 " + input + "\n") << name;
    EXPECT_EQ(Trace(), (std::vector<std::string>{CreateTrace(true, true), "destroy processed=0"})) << name;
  }
}

TEST_F(RunnerTest, FailedEngineCreationEndsTheRun) {
  const std::string input = dir_.write("input.txt", "some line\n");
  for (int k = 1; k <= 4; ++k) {
    const std::string kept = rules_[k - 1];
    rules_[k - 1] = dir_.at("missing.fst");
    const RunResult result = RunOn(input);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, kLoading + Loaded(-k)) << "no line may be processed";
    EXPECT_EQ(result.err, "错误: 无法加载FST模型 " + rules_[k - 1] + "\n");
    rules_[k - 1] = kept;
  }
  rules_[0] = dir_.write("refusing.fst", "fail:-7\n");
  const RunResult result = RunOn(input);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, kLoading + Loaded(-7));
  EXPECT_EQ(result.err, "错误: FST模型加载失败 ret=-7\n");
  EXPECT_EQ(Trace().back(), "destroy null");
}

// A 64 KiB tmpfs on the new folder `folder`, unmounted when the guard goes;
// not mounted where this process may not mount.
class SmallTmpfs {
 public:
  explicit SmallTmpfs(const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directory(folder_);
    mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool mounted() const { return mounted_; }
  std::string at(const std::string& name) const { return (folder_ / name).string(); }

 private:
  std::filesystem::path folder_;
  bool mounted_ = false;
};

// Results that cannot be written are the run's failure, never lost unseen.
// /dev/full refuses the very first line, before anything is loaded.
TEST_F(RunnerTest, StandardOutputOnAFullDeviceIsAnError) {
  const RunResult result = RunOn(dir_.write("input.txt", "one\ntwo\n"), {}, "/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, kOutputFull);
  EXPECT_FALSE(std::filesystem::exists(trace_)) << "nothing may be loaded";
}

// A file system that fills while the results are printed: the lines that
// fit are there, the run ends with the error and the engine is destroyed.
TEST_F(RunnerTest, StandardOutputOnAFileSystemThatFillsIsAnError) {
  const SmallTmpfs small(dir_.path() / "small");
  if (!small.mounted()) GTEST_SKIP() << "this process may not mount a tmpfs";
  constexpr int kLines = 2000;  // some 240 kB of results
  std::string content;
  for (int k = 0; k < kLines; ++k) content += "line" + std::to_string(k) + "\n";
  const std::string out = small.at("out.txt");
  const RunResult result = RunOn(dir_.write("input.txt", content), {}, out);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, kOutputFull);
  const std::vector<std::string> written = SplitLines(ReadFile(out));
  ASSERT_GT(written.size(), 2u);
  EXPECT_LT(written.size(), 2u + kLines);
  EXPECT_EQ(written[0] + "\n" + written[1] + "\n", kLoading + Loaded(0));
  EXPECT_EQ(Trace().back(), "destroy processed=" + std::to_string(kLines));
}

// The shipped rules run by itn_runner over `lines`, with the unit switch
// given: each input line and its result, whichever worker it went to.
std::map<std::string, std::string> ShippedRulesResults(const std::vector<std::string>& lines,
                                                       const std::string& unit_symbol_type) {
  ScratchFolder dir;
  std::string content;
  for (const std::string& line : lines) content += line + "\n";
  const RunResult result = RunProgram({ITN_RUNNER, kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3],
                                       dir.write("lines.txt", content), "1", unit_symbol_type});
  EXPECT_EQ(result.status, 0) << result.err;
  std::map<std::string, std::string> converted;
  for (const std::string& line : SplitLines(result.out)) {
    const size_t arrow = line.find(" --> ");
    const size_t time = line.rfind(", time_cost=");
    if (arrow == std::string::npos || time == std::string::npos) continue;
    converted[line.substr(0, arrow)] = line.substr(arrow + 5, time - arrow - 5);
  }
  return converted;
}

// A read error inside the input is no end of the file: the lines completed
// before it are processed and printed as in a full run, then the error and
// status 1; the engine is destroyed.
TEST_F(RunnerTest, ReadErrorInsideTheInputIsAnError) {
  constexpr int kLines = 2000;  // 9 bytes each: 910 whole lines in 8 KiB
  std::string content;
  for (int k = 0; k < kLines; ++k) content += "line" + std::string(k < 10 ? "000" : k < 100 ? "00" : k < 1000 ? "0" : "") +
                                               std::to_string(k) + "\n";
  const std::string input = dir_.write("input.txt", content);
  const RunResult result = RunOn(input, {}, "", ReadFailsAfter(input, 8192));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, ReadFailed(input));
  std::vector<std::string> lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 2u + 910);
  EXPECT_EQ(lines[0] + "\n" + lines[1] + "\n", kLoading + Loaded(0));
  // Grouped by worker as in a full run: lines 0, 8, 16, ... first.
  size_t printed = 2;
  for (int b = 0; b < 8; ++b) {
    for (int k = b; k < 910; k += 8) {
      const std::string expected = content.substr(9 * k, 8);
      ExpectLogLine(lines[printed++], expected, Reflected(true, true));
    }
  }
  EXPECT_EQ(Trace().back(), "destroy processed=910");
}

TEST_F(RunnerTest, ReadErrorAtTheStartOfTheInputIsAnError) {
  const std::string input = dir_.write("input.txt", "one\ntwo\n");
  const RunResult result = RunOn(input, {}, "", ReadFailsAfter(input, 0));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, kLoading + Loaded(0));
  EXPECT_EQ(result.err, ReadFailed(input));
  EXPECT_EQ(Trace().back(), "destroy processed=0");
}

// Eight threads with 256 MiB stacks do not fit in 1 GiB of address space:
// a worker that cannot start ends the run with its error, no result lines
// and the engine destroyed, never an abort. With 8 MiB stacks the same
// limit runs.
TEST_F(RunnerTest, WorkerThatCannotStartIsAnError) {
  const std::string input = dir_.write("input.txt", "one\ntwo\n");
  const auto limited = [&](const std::string& stack_kib) {
    std::vector<std::string> argv{"/bin/sh", "-c",
                                  "ulimit -s " + stack_kib + " && ulimit -v 1048576 && exec \"$0\" \"$@\"", kRunner};
    argv.insert(argv.end(), rules_.begin(), rules_.end());
    argv.push_back(input);
    std::filesystem::remove(trace_);
    return RunProgram(argv, {"ITN_REFLECT_TRACE=" + trace_});
  };
  EXPECT_EQ(LogLines(limited("8192")).size(), 2u);
  const RunResult result = limited("262144");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, kLoading + Loaded(0));
  EXPECT_EQ(result.err, "错误: 无法启动工作线程: Resource temporarily unavailable\n");
  EXPECT_EQ(Trace().back().rfind("destroy processed=", 0), 0u);
}

// The runner on the shipped rules: every number of the table comes out as
// its value, whichever worker it went to.
TEST(ShippedRulesRunnerTest, CountsOfYiWithAWanGroupBecomeTheirValues) {
  std::vector<std::string> lines;
  for (const SpokenNumber& number : kWanInsideYi) lines.push_back(number.spoken);
  std::map<std::string, std::string> converted = ShippedRulesResults(lines, "1");
  EXPECT_EQ(converted.size(), std::size(kWanInsideYi));
  for (const SpokenNumber& number : kWanInsideYi) EXPECT_EQ(converted[number.spoken], number.value) << number.spoken;
}

// The real runner on a read that fails after the first 8 KiB: the lines
// before are converted and printed, then the error.
TEST(ShippedRulesRunnerTest, ReadErrorInsideTheInputIsAnError) {
  ScratchFolder dir;
  std::string content;
  for (int k = 0; k < 1000; ++k) content += "三百五十块钱\n";  // 19 bytes: 431 lines in 8 KiB
  const std::string input = dir.write("input.txt", content);
  const RunResult result = RunProgram(
      {ITN_RUNNER, kRuleFiles[0], kRuleFiles[1], kRuleFiles[2], kRuleFiles[3], input}, ReadFailsAfter(input, 8192));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, ReadFailed(input));
  const std::vector<std::string> lines = SplitLines(result.out);
  ASSERT_EQ(lines.size(), 2u + 431);
  for (size_t i = 2; i < lines.size(); ++i) EXPECT_EQ(lines[i].rfind("三百五十块钱 --> 350块钱, time_cost=", 0), 0u);
}

// Rough counts, idioms and runs that are no one number come out as they
// were written, with either unit switch.
TEST(ShippedRulesRunnerTest, RoughCountsAndIdiomsStayAsWritten) {
  const std::vector<std::string> lines(std::begin(kLeftAsWritten), std::end(kLeftAsWritten));
  for (const char* unit_symbol_type : {"1", "0"}) {
    std::map<std::string, std::string> converted = ShippedRulesResults(lines, unit_symbol_type);
    EXPECT_EQ(converted.size(), lines.size());
    for (const std::string& line : lines) EXPECT_EQ(converted[line], line) << unit_symbol_type;
  }
}

}  // namespace
}  // namespace itn_test
