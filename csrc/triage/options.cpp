#include "triage/options.h"

namespace speech {
namespace {

constexpr OptionType kText = OptionType::kText;

CommandLine build() {
  return {
      "Tessera 统一推理链路：多说话人检测 + 主说话人分离",
      {
          required_option("--scp", kText, "输入 scp 文件，每行格式: <utt_id> <wav_path>"),
          required_option("--out_jsonl", kText, "输出 jsonl 文件路径"),
          required_option("--save_dir", kText, "分离结果保存根目录（每条音频一个子目录）"),
          text_option("--detector_ckpt", kText, "./model_speakers.tar", "多说话人检测模型权重路径"),
          real_option("--multi_spks_threshold", 0.3, "multi_spks_rate 阈值；< 阈值则视为单人，跳过分离（默认 0.3）"),
          text_option("--inference", kText, "./checkpoint_best.pth", "CSS 分离模型权重路径"),
          text_option("--device", kText, "cuda"),
          real_option("--seg_duration", 2.4),
          real_option("--hop_duration", 1.2),
          integer_option("--max_speakers", 4),
          text_option("--wespeaker_model", kText, "chinese"),
          real_option("--similarity_threshold", 0.24),
          real_option("--low_similarity_threshold", 0.22),
          real_option("--short_speech_duration", 0.8),
          real_option("--short_speech_threshold_drop", 0.05),
          real_option("--max_inter_sisdr_for_update", -10.0),
          real_option("--sisdr_threshold", 20.0),
          real_option("--sisdr_threshold_prev", -10.0),
          real_option("--merge_threshold", 0.5),
      },
  };
}

}  // namespace

const CommandLine& triage_command_line() {
  static const CommandLine command_line = build();
  return command_line;
}

}  // namespace speech
