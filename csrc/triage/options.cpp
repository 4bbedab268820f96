#include "triage/options.h"

namespace speech {

const char* const kTriageDescription = "Tessera 统一推理链路：多说话人检测 + 主说话人分离";

namespace {

TriageOption required_text(const char* flag, const char* help) {
  return {flag, TriageValue::kText, true, "", 0.0, 0, help};
}

TriageOption text(const char* flag, const char* value, const char* help = "") {
  return {flag, TriageValue::kText, false, value, 0.0, 0, help};
}

TriageOption real(const char* flag, double value, const char* help = "") {
  return {flag, TriageValue::kReal, false, "", value, 0, help};
}

std::vector<TriageOption> build_options() {
  return {
      required_text("--scp", "输入 scp 文件，每行格式: <utt_id> <wav_path>"),
      required_text("--out_jsonl", "输出 jsonl 文件路径"),
      required_text("--save_dir", "分离结果保存根目录（每条音频一个子目录）"),
      text("--detector_ckpt", "./model_speakers.tar", "多说话人检测模型权重路径"),
      real("--multi_spks_threshold", 0.3, "multi_spks_rate 阈值；< 阈值则视为单人，跳过分离（默认 0.3）"),
      text("--inference", "./checkpoint_best.pth", "CSS 分离模型权重路径"),
      text("--device", "cuda"),
      real("--seg_duration", 2.4),
      real("--hop_duration", 1.2),
      {"--max_speakers", TriageValue::kInteger, false, "", 0.0, 4, ""},
      text("--wespeaker_model", "chinese"),
      real("--similarity_threshold", 0.24),
      real("--low_similarity_threshold", 0.22),
      real("--short_speech_duration", 0.8),
      real("--short_speech_threshold_drop", 0.05),
      real("--max_inter_sisdr_for_update", -10.0),
      real("--sisdr_threshold", 20.0),
      real("--sisdr_threshold_prev", -10.0),
      real("--merge_threshold", 0.5),
  };
}

}  // namespace

const std::vector<TriageOption>& triage_options() {
  static const std::vector<TriageOption> options = build_options();
  return options;
}

}  // namespace speech
