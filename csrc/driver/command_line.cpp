#include "driver/command_line.h"

namespace speech {

const char* const kParserDescription = "Tessera with Speaker Tracking";
const char* const kDefaultSaveDir = "/data/leadvoice/sep_wav";
const char* const kDefaultCheckpoint = "/data/leadvoice/checkpoints/checkpoint_best.pth";

namespace {

OptionSpec unset(const char* flag, const char* help) {
  return {flag, OptionKind::kUntyped, DefaultKind::kUnset, "", 0.0, 0, help};
}

OptionSpec untyped_text(const char* flag, const char* value) {
  return {flag, OptionKind::kUntyped, DefaultKind::kText, value, 0.0, 0, ""};
}

OptionSpec real(const char* flag, double value, const char* help) {
  return {flag, OptionKind::kReal, DefaultKind::kReal, "", value, 0, help};
}

std::vector<OptionSpec> build_options() {
  return {
      unset("--data_path", "待处理音频所在目录（与 --data_jsonl 二选一）"),
      unset("--data_jsonl", "jsonl 文件路径，每行包含 prompt_wav 字段（必填）；仅当 multi_spks_rate 字段存在且 > 阈值时处理"),
      real("--multi_spks_rate_threshold", 0.5,
           "jsonl 模式下多人说话比例阈值（仅当 multi_spks_rate > 此值才处理，默认0.5）"),
      untyped_text("--device", "cuda"),
      untyped_text("--save_dir", kDefaultSaveDir),
      unset("--log_file", "日志文件路径，默认保存到save_dir/log.txt"),
      untyped_text("--inference", kDefaultCheckpoint),
      real("--seg_duration", 2.4, "每段时长(秒)"),
      real("--hop_duration", 1.2, "滑动步长(秒)"),
      {"--max_speakers", OptionKind::kInteger, DefaultKind::kInteger, "", 0.0, 4, "片段内的最大说话人数目"},
      {"--wespeaker_model", OptionKind::kText, DefaultKind::kText, "chinese", 0.0, 0, "WeSpeaker模型名称"},
      real("--similarity_threshold", 0.24, "说话人匹配相似度阈值（相似度≥此值直接匹配）"),
      real("--low_similarity_threshold", 0.22, "低质量信号的宽松匹配阈值"),
      real("--short_speech_duration", 0.8, "短语音阈值（秒），低于此值降低相似度阈值"),
      real("--short_speech_threshold_drop", 0.05, "短语音时相似度阈值降低量"),
      real("--max_inter_sisdr_for_update", -10.0,
           "分离质量阈值，inter-sisdr > 此值视为分离不干净，不更新embedding"),
      real("--sisdr_threshold", 20.0, "判断有效说话人的SI-SDR阈值（与混合信号比较）"),
      real("--sisdr_threshold_prev", -10.0, "判断有效说话人的SI-SDR阈值（与此前分离信号比较）"),
      real("--merge_threshold", 0.50, "信号合并的embedding相似度阈值，高于此值则合并"),
      {"--rms_normalize", OptionKind::kFlag, DefaultKind::kFalse, "", 0.0, 0,
       "是否对输出的全局说话人音频进行RMS归一化（默认关闭）"},
  };
}

}  // namespace

const std::vector<OptionSpec>& driver_options() {
  static const std::vector<OptionSpec> options = build_options();
  return options;
}

}  // namespace speech
