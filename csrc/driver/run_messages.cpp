#include "driver/run_messages.h"

#include "common/number_format.h"

namespace speech::driver {

const char* const kNeitherInputError = "必须指定 --data_path 或 --data_jsonl 之一";
const char* const kBothInputsError = "--data_path 与 --data_jsonl 互斥，请只指定其中一个";

std::string not_a_directory_error(const std::string& data_path) {
  return "--data_path must be a directory, got: " + data_path;
}

std::string no_wav_files_message(const std::string& data_path) { return "No .wav files found in: " + data_path; }

std::string directory_mode_line(size_t wav_count) {
  return "输入模式: directory -> 共 " + std::to_string(wav_count) + " 个 wav 文件";
}

std::string jsonl_mode_line(const std::string& jsonl_path) { return "输入模式: jsonl -> " + jsonl_path; }

std::string empty_task_list_message(const std::string& threshold) {
  return "没有需要处理的任务（无 multi_spks_rate>" + threshold + " 的 case），退出";
}

namespace {

std::string log_is_input_error(const std::string& log_file, const std::string& input, const std::string& what,
                               const std::string& input_path) {
  return "--log_file 与 " + input + " 是同一个文件，写日志会清空" + what + ": " + log_file + " (" + input_path + ")";
}

std::string recording_label(int64_t line_no) {
  return line_no >= 1 ? "jsonl第" + std::to_string(line_no) + "行的音频" : std::string("--data_path 中的音频");
}

}  // namespace

std::string log_is_checkpoint_error(const std::string& log_file, const std::string& inference) {
  return log_is_input_error(log_file, "--inference", "CSS 分离模型权重", "inference: " + inference);
}

std::string log_is_task_list_error(const std::string& log_file, const std::string& data_jsonl) {
  return log_is_input_error(log_file, "--data_jsonl", "任务列表", "data_jsonl: " + data_jsonl);
}

std::string log_is_recording_error(const std::string& log_file, const std::string& wav_path, int64_t line_no) {
  return log_is_input_error(log_file, recording_label(line_no), "该音频", "wav: " + wav_path);
}

std::string log_is_output_error(const std::string& log_file, const std::string& wav_path, int64_t line_no,
                                const std::string& output_path) {
  return "--log_file 是 " + recording_label(line_no) + " (" + wav_path +
         ") 在 --save_dir 下的输出文件，运行会覆盖或删除它，日志会丢失: " + log_file + " (" + output_path + ")";
}

std::string recording_is_output_error(const std::string& wav_path, int64_t line_no, const std::string& task_wav_path,
                                      int64_t task_line_no, const std::string& output_path) {
  return recording_label(line_no) + " 是 " + recording_label(task_line_no) + " (" + task_wav_path +
         ") 在 --save_dir 下的输出文件，运行会覆盖或删除它: " + wav_path + " (" + output_path + ")";
}

std::string cuda_unavailable_line() { return "CUDA不可用，使用CPU"; }
std::string loading_model_line() { return "加载分离模型..."; }
std::string loading_tracker_line() { return "加载说话人追踪器(WeSpeaker)..."; }

std::string log_will_be_saved_line(const std::string& log_path) { return "日志将保存到: " + log_path; }

std::string folder_taken_warning(const std::string& wav_path, const std::string& save_dir,
                                 const std::string& earlier_wav_path, int64_t earlier_line_no) {
  const std::string earlier =
      earlier_line_no >= 1 ? "jsonl第" + std::to_string(earlier_line_no) + "行 " + earlier_wav_path : earlier_wav_path;
  return "[警告] 输出目录 " + save_dir + " 已被本次运行中前面的任务 " + earlier + " 使用，跳过: " + wav_path;
}

std::string unreadable_recording_warning(const std::string& error) { return "[警告] 无法读取音频，跳过: " + error; }

std::string resampling_failed_text(const std::string& wav_path, int64_t file_rate, const std::string& error) {
  return "Error resampling '" + wav_path + "' from " + std::to_string(file_rate) + " Hz: " + error;
}

std::string non_finite_recording_warning(const std::string& wav_path) {
  return "[警告] 音频含有非有限值(NaN/inf)的采样，跳过: " + wav_path;
}

std::string folder_failed_warning(const std::string& wav_path, const std::string& error) {
  return "[警告] 无法创建输出目录，跳过: " + wav_path + " (" + error + ")";
}

std::string log_failed_warning(const std::string& wav_path, const std::string& error) {
  return "[警告] 无法创建日志文件，跳过: " + wav_path + " (" + error + ")";
}

std::string output_failed_warning(const std::string& wav_path, const std::string& error) {
  return "[警告] 写入输出失败，跳过: " + wav_path + " (" + error + ")";
}

std::string resampled_warning(const std::string& wav_path, int64_t file_rate, int64_t target_rate) {
  return "[警告] " + wav_path + " 的采样率为 " + std::to_string(file_rate) + " Hz，已重采样到 " +
         std::to_string(target_rate) + " Hz";
}

std::string loaded_mix_line(const std::string& wav_path, int64_t sample_rate, int64_t samples) {
  return "加载混合音频: " + wav_path + ", 采样率: " + std::to_string(sample_rate) + ", 时长: " +
         common::format_fixed(static_cast<double>(samples) / static_cast<double>(sample_rate), 2) + "s";
}

std::string processing_start_line() { return "\n开始处理..."; }

std::string speaker_count_line(size_t speakers) {
  return "\n检测到 " + std::to_string(speakers) + " 个全局说话人";
}

std::string saved_mix_line(const std::string& path) { return "保存原始mix音频: " + path; }
std::string saved_main_line(const std::string& path) { return "保存主通道音频: " + path; }
std::string no_main_channel_warning() { return "[警告] 未能选出主通道，跳过主通道保存"; }
std::string main_speaker_file_name(const std::string& id) { return "main_speaker_" + id + ".wav"; }
std::string report_header() { return "\n=== 说话人追踪统计 ==="; }

std::string segment_report_line(int64_t seg_idx, int64_t start_sample, int64_t end_sample, int64_t sample_rate,
                                const std::vector<int64_t>& global_ids) {
  std::string ids;
  for (const int64_t id : global_ids) {
    if (!ids.empty()) ids += ", ";
    ids += std::to_string(id);
  }
  const auto seconds = [sample_rate](int64_t sample) {
    return common::format_fixed(static_cast<double>(sample) / static_cast<double>(sample_rate), 2);
  };
  return "片段 " + std::to_string(seg_idx + 1) + ": [" + seconds(start_sample) + "s - " + seconds(end_sample) +
         "s] -> 说话人: [" + ids + "]";
}

std::string finished_line(const std::string& save_dir) { return "\n处理完成！结果保存至: " + save_dir; }
std::string log_saved_line(const std::string& log_path) { return "日志已保存到: " + log_path; }

std::string run_summary_line(const RunTally& tally) {
  return "\n[汇总] 任务总数=" + std::to_string(tally.total) + "，完成=" + std::to_string(tally.done) +
         "，无主通道=" + std::to_string(tally.no_main_channel) + "，无法读取=" + std::to_string(tally.unreadable) +
         "，非有限值=" + std::to_string(tally.not_finite) +
         "，输出目录重名跳过=" + std::to_string(tally.folder_taken) +
         "，输出失败=" + std::to_string(tally.output_failed);
}

}  // namespace speech::driver
