#include "triage/options.h"

namespace speech::triage {
namespace {

constexpr common::OptionType kText = common::OptionType::kText;

common::CommandLine build() {
  return {
      "Tessera 统一推理链路：多说话人检测 + 主说话人分离",
      {
          common::required_option("--scp", kText, "输入 scp 文件，每行格式: <utt_id> <wav_path>"),
          common::required_option("--out_jsonl", kText, "输出 jsonl 文件路径"),
          common::required_option("--save_dir", kText, "分离结果保存根目录（每条音频一个子目录）"),
          common::text_option("--detector_ckpt", kText, "./model_speakers.tar", "多说话人检测模型权重路径"),
          common::real_option("--multi_spks_threshold", 0.3, "multi_spks_rate 阈值；< 阈值则视为单人，跳过分离（默认 0.3）"),
          common::text_option("--inference", kText, "./checkpoint_best.pth", "CSS 分离模型权重路径"),
          common::text_option("--device", kText, "cuda"),
          common::real_option("--seg_duration", 2.4),
          common::real_option("--hop_duration", 1.2),
          common::integer_option("--max_speakers", 4),
          common::text_option("--wespeaker_model", kText, "chinese"),
          common::real_option("--similarity_threshold", 0.24),
          common::real_option("--low_similarity_threshold", 0.22),
          common::real_option("--short_speech_duration", 0.8),
          common::real_option("--short_speech_threshold_drop", 0.05),
          common::real_option("--max_inter_sisdr_for_update", -10.0),
          common::real_option("--sisdr_threshold", 20.0),
          common::real_option("--sisdr_threshold_prev", -10.0),
          common::real_option("--merge_threshold", 0.5),
      },
  };
}

}  // namespace

const common::CommandLine& triage_command_line() {
  static const common::CommandLine command_line = build();
  return command_line;
}

}  // namespace speech::triage
