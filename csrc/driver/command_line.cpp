#include "driver/command_line.h"

namespace speech::driver {

const char* const kDefaultSaveDir = "/data/leadvoice/sep_wav";
const char* const kDefaultCheckpoint = "/data/leadvoice/checkpoints/checkpoint_best.pth";

namespace {

constexpr common::OptionType kUntyped = common::OptionType::kUntyped;

common::CommandLine build() {
  return {
      "Tessera with Speaker Tracking",
      {
          common::unset_option("--data_path", kUntyped, "待处理音频所在目录（与 --data_jsonl 二选一）"),
          common::unset_option("--data_jsonl", kUntyped,
                       "jsonl 文件路径，每行包含 prompt_wav 字段（必填）；仅当 multi_spks_rate 字段存在且 > 阈值时处理"),
          common::real_option("--multi_spks_rate_threshold", 0.5,
                      "jsonl 模式下多人说话比例阈值（仅当 multi_spks_rate > 此值才处理，默认0.5）"),
          common::text_option("--device", kUntyped, "cuda"),
          common::text_option("--save_dir", kUntyped, kDefaultSaveDir),
          common::unset_option("--log_file", kUntyped,
                               "日志文件路径（整次运行共用一个日志），默认每条音频保存到<save_dir>/<name>/log.txt（name 为 wav 文件名去掉扩展名）"),
          common::text_option("--inference", kUntyped, kDefaultCheckpoint),
          common::real_option("--seg_duration", 2.4, "每段时长(秒)"),
          common::real_option("--hop_duration", 1.2, "滑动步长(秒)"),
          common::integer_option("--max_speakers", 4, "片段内的最大说话人数目"),
          common::text_option("--wespeaker_model", common::OptionType::kText, "chinese", "WeSpeaker模型名称"),
          common::real_option("--similarity_threshold", 0.24, "说话人匹配相似度阈值（相似度≥此值直接匹配）"),
          common::real_option("--low_similarity_threshold", 0.22, "低质量信号的宽松匹配阈值"),
          common::real_option("--short_speech_duration", 0.8, "短语音阈值（秒），低于此值降低相似度阈值"),
          common::real_option("--short_speech_threshold_drop", 0.05, "短语音时相似度阈值降低量"),
          common::real_option("--max_inter_sisdr_for_update", -10.0,
                      "分离质量阈值，inter-sisdr > 此值视为分离不干净，不更新embedding"),
          common::real_option("--sisdr_threshold", 20.0, "判断有效说话人的SI-SDR阈值（与混合信号比较）"),
          common::real_option("--sisdr_threshold_prev", -10.0, "判断有效说话人的SI-SDR阈值（与此前分离信号比较）"),
          common::real_option("--merge_threshold", 0.50, "信号合并的embedding相似度阈值，高于此值则合并"),
          common::flag_option("--rms_normalize", "是否对输出的全局说话人音频进行RMS归一化（默认关闭）"),
      },
  };
}

}  // namespace

const common::CommandLine& driver_command_line() {
  static const common::CommandLine command_line = build();
  return command_line;
}

}  // namespace speech::driver
