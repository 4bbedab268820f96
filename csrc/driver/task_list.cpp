#include "driver/task_list.h"

namespace speech {
namespace {

std::string line_tag(int64_t line_no) { return "[警告] jsonl第" + std::to_string(line_no) + "行"; }

}  // namespace

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

}  // namespace speech
