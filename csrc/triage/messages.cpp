#include "triage/messages.h"

#include "common/number_format.h"

namespace speech::triage {

const char* const kCudaFallbackLine = "[警告] CUDA 不可用，回退到 CPU";
const char* const kEmptyScpLine = "scp 为空，退出";
const char* const kStage1Line = "\n[阶段1] 加载多说话人检测模型...";
const char* const kStage2Line = "\n[阶段2] 加载 CSS 分离模型...";
const char* const kStage3Line = "\n[阶段3] 加载 WeSpeaker 说话人追踪器...";
const char* const kSingleSpeakerLine = "-> 判定为单人，跳过分离";
const char* const kNoMainChannelWarning = "[警告] 未能选出主通道";
const char* const kWavNotFoundError = "wav_not_found";

std::string scp_missing_error(const std::string& scp_path) { return "scp 文件不存在: " + scp_path; }

std::string scp_malformed_warning(long line_no, const std::string& stripped) {
  return "[警告] scp 第" + std::to_string(line_no) + "行格式错误，跳过: " + stripped;
}

std::string scp_count_line(size_t entries, const std::string& scp_path) {
  return "[scp] 共加载 " + std::to_string(entries) + " 条音频: " + scp_path;
}

std::string result_is_list_error(const std::string& out_jsonl, const std::string& scp_path) {
  return result_is_input_error(out_jsonl, "--scp", "输入列表", "scp: " + scp_path);
}

std::string result_is_input_error(const std::string& out_jsonl, const std::string& option, const std::string& what,
                                  const std::string& input_path) {
  return "--out_jsonl 与 " + option + " 是同一个文件，写结果会清空" + what + ": " + out_jsonl + " (" + input_path + ")";
}

std::string result_is_wav_error(const std::string& out_jsonl, size_t idx, const std::string& utt_id,
                                const std::string& wav_path) {
  return result_is_input_error(out_jsonl, "scp 第 " + std::to_string(idx) + " 条 (" + utt_id + ") 的 wav", "该音频",
                               "wav: " + wav_path);
}

std::string result_is_output_error(const std::string& out_jsonl, size_t idx, const std::string& utt_id,
                                   const std::string& output_path) {
  return "--out_jsonl 是 scp 第 " + std::to_string(idx) + " 条 (" + utt_id +
         ") 在 --save_dir 下的输出文件，运行会覆盖或删除它，结果会丢失: " + out_jsonl + " (" + output_path + ")";
}

std::string wav_is_output_error(size_t idx, const std::string& utt_id, const std::string& wav_path, size_t owner_idx,
                                const std::string& owner_id, const std::string& output_path) {
  return "scp 第 " + std::to_string(idx) + " 条 (" + utt_id + ") 的 wav 是 scp 第 " + std::to_string(owner_idx) + " 条 (" +
         owner_id + ") 在 --save_dir 下的输出文件，运行会覆盖或删除它: " + wav_path + " (" + output_path + ")";
}

std::string result_file_locked_error(const std::string& out_jsonl) {
  return "--out_jsonl 正被另一个运行写入（文件已加锁），本次运行不改动它并退出: " + out_jsonl;
}

std::string detector_ckpt_missing_error(const std::string& ckpt_path) {
  return "多说话人检测模型权重不存在: " + ckpt_path;
}

std::string detector_loaded_line(const std::string& ckpt_path) {
  return "[检测器] NoisyDetectorV2 加载成功: " + ckpt_path;
}

std::string stretch_failure_line(const std::string& error) {
  return "[检测器] 长音频分段检测失败，改为整段前向（内存随音频长度增长）: " + error;
}

std::string non_finite_rate_text(const std::string& rate) { return "multi_spks_rate 不是有限值: " + rate; }

std::string utterance_header(size_t idx, size_t total, const std::string& utt_id) {
  return "\n========== [" + std::to_string(idx) + "/" + std::to_string(total) + "] " + utt_id + " ==========";
}

std::string wav_missing_line(const std::string& wav_path) { return "[错误] wav 不存在: " + wav_path; }
std::string load_failed_line(const std::string& text) { return "[错误] 读取音频失败: " + text; }
std::string detector_failed_line(const std::string& text) { return "[错误] 多说话人检测失败: " + text; }
std::string separation_failed_line(const std::string& text) { return "[错误] 分离失败: " + text; }
std::string unsafe_id_line(const std::string& reason) { return "[错误] utt_id 不能用作输出子目录: " + reason; }

std::string folder_taken_line(size_t first_idx, const std::string& folder) {
  return "[错误] 输出目录已被本次第 " + std::to_string(first_idx) + " 条使用，跳过分离: " + folder;
}

std::string folder_failed_line(const std::string& text) { return "[错误] 创建输出目录失败: " + text; }
std::string log_failed_line(const std::string& text) { return "[错误] 创建日志文件失败: " + text; }

std::string rate_line(double rate, const std::string& threshold) {
  return "multi_spks_rate = " + common::format_fixed(rate, 4) + " (阈值 " + threshold + ")";
}

std::string too_short_line(double duration, const std::string& hop) {
  return "-> 音频过短 (" + common::format_fixed(duration, 2) + "s <= hop_duration " + hop + "s)，跳过分离";
}

std::string log_file_line(const std::string& log_path) { return "日志文件: " + log_path; }

std::string audio_line(const std::string& wav_path, double duration, long sample_rate) {
  return "音频: " + wav_path + ", 时长 " + common::format_fixed(duration, 2) + "s, 采样率 " + std::to_string(sample_rate);
}

std::string load_failed_error(const std::string& text) { return "load_failed: " + text; }
std::string detector_failed_error(const std::string& text) { return "detector_failed: " + text; }
std::string separation_failed_error(const std::string& text) { return "separation_failed: " + text; }

std::string too_short_error(double duration, const std::string& hop) {
  return "audio_too_short_for_css: duration=" + common::format_fixed(duration, 2) + "s <= hop_duration=" + hop + "s";
}

std::string unsafe_id_error(const std::string& reason) { return "unsafe_utt_id: " + reason; }

std::string folder_taken_error(size_t first_idx, const std::string& folder) {
  return "duplicate_utt_id: output folder already used by entry " + std::to_string(first_idx) + " of this run: " +
         folder;
}

std::string folder_failed_error(const std::string& text) { return "utt_dir_failed: " + text; }
std::string log_failed_error(const std::string& text) { return "log_file_failed: " + text; }
const char* const kNoStreamKeptText = "no speaker stream was kept";

std::string separation_start_line(const std::string& utt_id, const std::string& wav_path, double duration) {
  return "\n开始分离: " + utt_id + "  (" + wav_path + ", " + common::format_fixed(duration, 2) + "s)";
}

std::string separation_done_line(size_t speakers) {
  return "分离完成，检测到 " + std::to_string(speakers) + " 个全局说话人";
}

std::string saved_main_line(const std::string& path) { return "保存主通道: " + path; }
std::string main_speaker_file(const std::string& gid) { return "main_speaker_" + gid + ".wav"; }
std::string other_speaker_file(const std::string& gid) { return "other_speaker_" + gid + ".wav"; }
std::string other_speaker_key(size_t number) { return "other_spk" + std::to_string(number) + "_wav_path"; }

SummaryLines summary_lines(const RunCounts& counts, const std::string& out_jsonl, const std::string& save_dir) {
  return {{
      "\n========== 处理完成 ==========",
      "总条数:        " + std::to_string(counts.total),
      "  单人(跳过):  " + std::to_string(counts.single),
      "  多人(分离):  " + std::to_string(counts.multi),
      "  失败:        " + std::to_string(counts.failed),
      "输出 jsonl:   " + out_jsonl,
      "分离结果目录: " + save_dir,
  }};
}

}  // namespace speech::triage
