#include "mixsim/demo_command_line.h"

namespace speech::mixsim {
namespace {

// Site-specific locations of the kinds the options expect.
constexpr const char* kLibriRoot = "/data/corpora/LibriSpeech";
constexpr const char* kWsj0Root = "/data/corpora/wsj0";
constexpr const char* kRirRoot = "/data/rirs/simulated_rirs_16k";
constexpr const char* kNoisePattern = "/data/noises/*.wav";
constexpr const char* kOutDir = "./blendkit_demo_samples";

common::CommandLine build() {
  return {
      "Run IterableTargetSpeakerDataset demo",
      {
          common::texts_option("--speeches", 2, common::OptionType::kText, {kLibriRoot, kWsj0Root}),
          common::texts_option("--rirs", common::kAnyCount, common::OptionType::kUntyped, {kRirRoot}),
          common::texts_option("--noises", common::kAnyCount, common::OptionType::kUntyped, {kNoisePattern},
                       "噪声文件 glob 模式（可多个），如 'noises/*.wav'"),
          common::unset_option("--samples_per_epoch", common::OptionType::kInteger, "每 epoch 总样本数（None 表示无限流）"),
          common::integer_option("--batch_size", 2, "batch size"),
          common::integer_option("--num_workers", 0, "DataLoader worker 数"),
          common::integer_option("--epochs", 2, "epoch 数"),
          common::integer_option("--seed", 4, "随机种子"),
          common::integer_option("--max_steps_per_epoch", 10, "每 epoch 打印/运行的 step 数（用于 demo，-1 表示全部）"),
          common::text_option("--out_dir", common::OptionType::kText, kOutDir),
      },
  };
}

}  // namespace

const common::CommandLine& demo_command_line() {
  static const common::CommandLine command_line = build();
  return command_line;
}

}  // namespace speech::mixsim
