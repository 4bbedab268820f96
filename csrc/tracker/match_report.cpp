#include "tracker/match_report.h"

#include "common/number_format.h"

namespace speech::tracker {
namespace {

std::string num(int64_t v) { return std::to_string(v); }
std::string f1(double v) { return common::format_fixed(v, 1); }
std::string f2(double v) { return common::format_fixed(v, 2); }
std::string f3(double v) { return common::format_fixed(v, 3); }
const char* const kIndent = "    当前说话人";

}  // namespace

std::string reasons_text(const Unreliability& why) {
  std::string text;
  if (why.low_quality_db) text += "分离质量差:" + f1(*why.low_quality_db) + "dB";
  if (why.short_speech_seconds) {
    if (!text.empty()) text += ", ";
    text += "语音过短:" + f2(*why.short_speech_seconds) + "s";
  }
  return text;
}

std::string store_line(int64_t num_global, const std::string& ids_text) {
  return "    [调试] 全局说话人库中共有 " + num(num_global) + " 个说话人: " + ids_text;
}

std::string skip_creation_line(int64_t k, double quality_db) {
  return "    [跳过创建] 说话人" + num(k) + "分离质量差（max_inter_sisdr=" + f1(quality_db) + "dB），不创建新说话人";
}

std::string matrix_header_line(int64_t num_curr, int64_t num_global) {
  return "    [调试] 相似度矩阵 (当前" + num(num_curr) + "人 x 全局" + num(num_global) + "人):";
}

std::string matrix_row_line(int64_t k, const std::vector<int64_t>& ids, const double* similarities,
                            std::optional<double> quality_db, std::optional<double> speech_seconds) {
  std::string line = "           当前说话人" + num(k) + ": [";
  for (size_t j = 0; j < ids.size(); ++j) {
    if (j > 0) line += ", ";
    line += "spk" + num(ids[j]) + ":" + f3(similarities[j]);
  }
  line += "]";
  if (quality_db) line += ", 分离质量=" + f1(*quality_db) + "dB";
  if (speech_seconds) line += ", 语音时长=" + f2(*speech_seconds) + "s";
  return line;
}

std::string match_line(int64_t row, int64_t id, double sim, bool updated) {
  return kIndent + num(row) + " 匹配到全局说话人" + num(id) + "，相似度: " + f3(sim) +
         (updated ? "（更新embedding）" : "（分离质量差，不更新embedding）");
}

std::string new_speaker_mark_line(int64_t row, int64_t id, double sim, double threshold) {
  return kIndent + num(row) + " 与最佳匹配全局说话人" + num(id) + "相似度 " + f3(sim) + " 低于阈值 " + f2(threshold) +
         "，embedding可靠，标记为新说话人";
}

std::string forced_match_line(int64_t row, int64_t id, const Unreliability& why, double sim, double low_threshold) {
  return kIndent + num(row) + " 强制匹配到全局说话人" + num(id) + "（" + reasons_text(why) + "，相似度" + f3(sim) +
         " >= 低阈值" + f2(low_threshold) + "，不更新embedding）";
}

std::string skip_line(int64_t row, const Unreliability& why, double sim, double low_threshold) {
  return kIndent + num(row) + " 跳过（" + reasons_text(why) + "，相似度" + f3(sim) + " < 低阈值" + f2(low_threshold) +
         "，embedding不可靠，不创建新说话人）";
}

std::string new_speaker_line(int64_t k, int64_t id) {
  return kIndent + num(k) + " 创建为新全局说话人" + num(id) + "（embedding可靠）";
}

std::string no_new_speaker_line(int64_t k, const Unreliability& why) {
  return kIndent + num(k) + " 不创建新说话人（" + reasons_text(why) + "，embedding不可靠）";
}

}  // namespace speech::tracker
