#include "driver/task_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include "driver/run_messages.h"

namespace speech::driver {
namespace {

TEST(TaskListTexts, SummaryAndWarnings) {
  TaskListCounters c;
  c.total = 7;
  c.accepted = 2;
  c.skipped_no_field = 1;
  c.skipped_below_thresh = 1;
  c.skipped_invalid = 2;
  c.skipped_missing_wav = 1;
  EXPECT_EQ(task_list_summary(c, "0.5"),
            "[jsonl] 总行数=7，待处理(multi_spks_rate>0.5)=2，无该字段跳过=1，未超阈值跳过=1，解析失败=2，wav缺失=1");
  EXPECT_EQ(rate_not_numeric_warning(3, "None"), "[警告] jsonl第3行 multi_spks_rate 非数值(None)，跳过");
  EXPECT_EQ(missing_wav_warning(4), "[警告] jsonl第4行缺少prompt_wav字段，跳过");
  EXPECT_EQ(wav_not_found_warning(5, "a.wav"), "[警告] jsonl第5行 prompt_wav 文件不存在: a.wav，跳过");
  EXPECT_EQ(parse_failure_warning(2, "Expecting value: line 1 column 1 (char 0)"),
            "[警告] jsonl第2行解析失败，跳过: Expecting value: line 1 column 1 (char 0)");
}

struct LineCase {
  TaskLineVerdict verdict;
  const char* detail;
  const char* warning;  // "" for the silent verdicts
  int64_t TaskListCounters::*bucket;
};

TEST(TaskListScan, EveryLineEndsInOneBucketWithItsWarning) {
  const LineCase cases[] = {
      {TaskLineVerdict::kParseFailed, "Expecting value", "[警告] jsonl第1行解析失败，跳过: Expecting value",
       &TaskListCounters::skipped_invalid},
      {TaskLineVerdict::kNotObject, "", "[警告] jsonl第1行不是JSON对象，跳过", &TaskListCounters::skipped_invalid},
      {TaskLineVerdict::kNoRateField, "", "", &TaskListCounters::skipped_no_field},
      {TaskLineVerdict::kRateNotNumeric, "'high'", "[警告] jsonl第1行 multi_spks_rate 非数值('high')，跳过",
       &TaskListCounters::skipped_invalid},
      {TaskLineVerdict::kBelowThreshold, "", "", &TaskListCounters::skipped_below_thresh},
      {TaskLineVerdict::kNoWav, "", "[警告] jsonl第1行缺少prompt_wav字段，跳过", &TaskListCounters::skipped_missing_wav},
      {TaskLineVerdict::kWavNotText, "3", "[警告] jsonl第1行 prompt_wav 不是文本(3)，跳过",
       &TaskListCounters::skipped_invalid},
      {TaskLineVerdict::kWavNotFound, "a.wav", "[警告] jsonl第1行 prompt_wav 文件不存在: a.wav，跳过",
       &TaskListCounters::skipped_missing_wav},
      {TaskLineVerdict::kAccepted, "", "", &TaskListCounters::accepted},
  };
  TaskListScan whole;
  int64_t line_no = 0;
  for (const LineCase& c : cases) {
    TaskListScan scan;
    EXPECT_EQ(scan.note(1, c.verdict, c.detail), c.warning);
    TaskListCounters expected;
    expected.total = 1;
    expected.*c.bucket = 1;
    const TaskListCounters& got = scan.counters();
    EXPECT_EQ(task_list_summary(got, "0.5"), task_list_summary(expected, "0.5")) << c.warning;
    whole.note(++line_no, c.verdict, c.detail);
  }
  const TaskListCounters& all = whole.counters();
  EXPECT_EQ(all.total, all.accepted + all.skipped_no_field + all.skipped_below_thresh + all.skipped_invalid +
                           all.skipped_missing_wav);
  EXPECT_EQ(all.skipped_invalid, 4);
}

TEST(TaskListScan, OnlyAFiniteRealIsARate) {
  EXPECT_TRUE(usable_rate(0.0));
  EXPECT_TRUE(usable_rate(-1e308));
  for (const std::optional<double> rate : {std::optional<double>(), std::optional<double>(std::nan("")),
                                           std::optional<double>(std::numeric_limits<double>::infinity())}) {
    EXPECT_FALSE(usable_rate(rate));
  }
}

TEST(RunTexts, ReportLine) {
  EXPECT_EQ(segment_report_line(0, 0, 38400, 16000, {0, -1}), "片段 1: [0.00s - 2.40s] -> 说话人: [0, -1]");
  EXPECT_EQ(segment_report_line(4, 76800, 80000, 16000, {}), "片段 5: [4.80s - 5.00s] -> 说话人: []");
  EXPECT_EQ(loaded_mix_line("x.wav", 16000, 24000), "加载混合音频: x.wav, 采样率: 16000, 时长: 1.50s");
  EXPECT_EQ(empty_task_list_message("1.0"), "没有需要处理的任务（无 multi_spks_rate>1.0 的 case），退出");
}

}  // namespace
}  // namespace speech::driver
