#pragma once
// Which of a window's kept signals go on to merging and speaker assignment:
// those whose embedding came back and holds finite values only.
#include <optional>
#include <vector>

namespace speech::css {

enum class EmbeddingVerdict {
  kMissing,    // too little speech or no usable model result: dropped silently
  kNotFinite,  // a nan or an infinity: dropped with a warning
  kUsable,
};

EmbeddingVerdict judge_embedding(const std::optional<std::vector<double>>& embedding);

}  // namespace speech::css
