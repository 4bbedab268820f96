#include "css/messages.h"

#include "common/number_format.h"

namespace speech::css {
namespace {

std::string num(int64_t value) { return std::to_string(value); }
std::string sim3(double value) { return common::format_fixed(value, 3); }

}  // namespace

std::string segment_count_line(int64_t num_segments) { return "总计 " + num(num_segments) + " 个片段需要处理"; }

std::string window_header_line(int64_t seg_idx, int64_t num_segments, double start_seconds, double end_seconds) {
  return "\n片段 " + num(seg_idx + 1) + "/" + num(num_segments) + ": 位置 [" + common::format_fixed(start_seconds, 2) +
         "s - " + common::format_fixed(end_seconds, 2) + "s]";
}

std::string nan_inf_warning_line(int64_t sig_idx) {
  return "    [警告] 信号" + num(sig_idx) + "的embedding包含nan/inf，跳过";
}

std::string window_skip_line() { return "    [跳过] 所有信号的embedding都无效，跳过该片段"; }

std::string merge_header_line(int64_t count, const std::string& threshold) {
  return "    [信号合并检查] 开始检查" + num(count) + "个信号的embedding相似度（阈值=" + threshold + "）";
}

std::string merge_matrix_title_line() { return "    [信号合并检查] 信号间embedding相似度矩阵:"; }

std::string merge_matrix_row_line(int64_t row, const std::vector<double>& similarities) {
  std::string cells;
  for (size_t j = 0; j < similarities.size(); ++j) {
    if (j > 0) cells += ", ";
    cells += static_cast<int64_t>(j) == row ? "  -  " : sim3(similarities[j]);
  }
  return "           信号" + num(row) + ": [" + cells + "]";
}

std::string merge_attempt_line(int64_t merge_count, int64_t first, int64_t second, double similarity,
                               const std::string& threshold) {
  return "    [信号合并 #" + num(merge_count) + "] 信号" + num(first) + "和信号" + num(second) +
         "的embedding相似度=" + sim3(similarity) + " >= " + threshold + "，进行合并";
}

std::string merge_failure_line(int64_t merge_count) {
  return "    [信号合并 #" + num(merge_count) + "] 合并后embedding提取失败，跳过此次合并";
}

std::string merge_success_line(int64_t merge_count, int64_t remaining) {
  return "    [信号合并 #" + num(merge_count) + "] 合并成功，当前剩余" + num(remaining) + "个有效信号";
}

std::string merge_stop_line(double similarity, const std::string& threshold) {
  return "    [信号合并检查] 最大相似度=" + sim3(similarity) + " < 阈值" + threshold + "，无需合并";
}

std::string merge_summary_line(int64_t merge_count, int64_t remaining) {
  return "    [信号合并完成] 共进行" + num(merge_count) + "次合并，最终" + num(remaining) + "个有效信号";
}

std::string init_ids_line(const std::string& ids) { return "    [初始化] 创建全局说话人ID: " + ids; }

std::string ids_line(const std::string& ids) { return "    全局说话人ID: " + ids; }

}  // namespace speech::css
