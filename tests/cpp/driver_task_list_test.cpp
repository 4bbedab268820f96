#include "driver/task_list.h"

#include <gtest/gtest.h>

#include "driver/run_messages.h"

namespace speech {
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

TEST(RunTexts, ReportLine) {
  EXPECT_EQ(segment_report_line(0, 0, 38400, 16000, {0, -1}), "片段 1: [0.00s - 2.40s] -> 说话人: [0, -1]");
  EXPECT_EQ(segment_report_line(4, 76800, 80000, 16000, {}), "片段 5: [4.80s - 5.00s] -> 说话人: []");
  EXPECT_EQ(loaded_mix_line("x.wav", 16000, 24000), "加载混合音频: x.wav, 采样率: 16000, 时长: 1.50s");
  EXPECT_EQ(empty_task_list_message("1.0"), "没有需要处理的任务（无 multi_spks_rate>1.0 的 case），退出");
}

}  // namespace
}  // namespace speech
