#include "driver/task_list.h"

#include <cmath>

namespace speech::driver {
namespace {

std::string line_tag(int64_t line_no) { return "[警告] jsonl第" + std::to_string(line_no) + "行"; }

}  // namespace

bool usable_rate(const std::optional<double>& rate) { return rate && std::isfinite(*rate); }

std::string TaskListScan::note(int64_t line_no, TaskLineVerdict verdict, const std::string& detail) {
  ++counters_.total;
  switch (verdict) {
    case TaskLineVerdict::kParseFailed:
      ++counters_.skipped_invalid;
      return parse_failure_warning(line_no, detail);
    case TaskLineVerdict::kNotObject:
      ++counters_.skipped_invalid;
      return not_object_warning(line_no);
    case TaskLineVerdict::kNoRateField:
      ++counters_.skipped_no_field;
      return "";
    case TaskLineVerdict::kRateNotNumeric:
      ++counters_.skipped_invalid;
      return rate_not_numeric_warning(line_no, detail);
    case TaskLineVerdict::kBelowThreshold:
      ++counters_.skipped_below_thresh;
      return "";
    case TaskLineVerdict::kNoWav:
      ++counters_.skipped_missing_wav;
      return missing_wav_warning(line_no);
    case TaskLineVerdict::kWavNotText:
      ++counters_.skipped_invalid;
      return wav_not_text_warning(line_no, detail);
    case TaskLineVerdict::kWavNotFound:
      ++counters_.skipped_missing_wav;
      return wav_not_found_warning(line_no, detail);
    case TaskLineVerdict::kAccepted:
      ++counters_.accepted;
      return "";
  }
  return "";
}

std::string task_list_summary(const TaskListCounters& c, const std::string& threshold) {
  return "[jsonl] 总行数=" + std::to_string(c.total) + "，待处理(multi_spks_rate>" + threshold +
         ")=" + std::to_string(c.accepted) + "，无该字段跳过=" + std::to_string(c.skipped_no_field) +
         "，未超阈值跳过=" + std::to_string(c.skipped_below_thresh) + "，解析失败=" +
         std::to_string(c.skipped_invalid) + "，wav缺失=" + std::to_string(c.skipped_missing_wav);
}

std::string parse_failure_warning(int64_t line_no, const std::string& error) {
  return line_tag(line_no) + "解析失败，跳过: " + error;
}

std::string not_object_warning(int64_t line_no) { return line_tag(line_no) + "不是JSON对象，跳过"; }

std::string rate_not_numeric_warning(int64_t line_no, const std::string& rate_repr) {
  return line_tag(line_no) + " multi_spks_rate 非数值(" + rate_repr + ")，跳过";
}

std::string missing_wav_warning(int64_t line_no) { return line_tag(line_no) + "缺少prompt_wav字段，跳过"; }

std::string wav_not_text_warning(int64_t line_no, const std::string& value_repr) {
  return line_tag(line_no) + " prompt_wav 不是文本(" + value_repr + ")，跳过";
}

std::string wav_not_found_warning(int64_t line_no, const std::string& wav_path) {
  return line_tag(line_no) + " prompt_wav 文件不存在: " + wav_path + "，跳过";
}

}  // namespace speech::driver
