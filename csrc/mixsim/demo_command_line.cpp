#include "mixsim/demo_command_line.h"

namespace speech::mixsim {
namespace {

// Site-specific locations of the kinds the options expect.
constexpr const char* kLibriRoot = "/data/corpora/LibriSpeech";
constexpr const char* kWsj0Root = "/data/corpora/wsj0";
constexpr const char* kRirRoot = "/data/rirs/simulated_rirs_16k";
constexpr const char* kNoisePattern = "/data/noises/*.wav";
constexpr const char* kOutDir = "./blendkit_demo_samples";

CommandLine build() {
  return {
      "Run IterableTargetSpeakerDataset demo",
      {
          texts_option("--speeches", 2, OptionType::kText, {kLibriRoot, kWsj0Root}),
          texts_option("--rirs", kAnyCount, OptionType::kUntyped, {kRirRoot}),
          texts_option("--noises", kAnyCount, OptionType::kUntyped, {kNoisePattern},
                       "噪声文件 glob 模式（可多个），如 'noises/*.wav'"),
          unset_option("--samples_per_epoch", OptionType::kInteger, "每 epoch 总样本数（None 表示无限流）"),
          integer_option("--batch_size", 2, "batch size"),
          integer_option("--num_workers", 0, "DataLoader worker 数"),
          integer_option("--epochs", 2, "epoch 数"),
          integer_option("--seed", 4, "随机种子"),
          integer_option("--max_steps_per_epoch", 10, "每 epoch 打印/运行的 step 数（用于 demo，-1 表示全部）"),
          text_option("--out_dir", OptionType::kText, kOutDir),
      },
  };
}

}  // namespace

const CommandLine& demo_command_line() {
  static const CommandLine command_line = build();
  return command_line;
}

}  // namespace speech::mixsim
