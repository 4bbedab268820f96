#include "css/embedding_gate.h"

#include "tracker/embedding_math.h"

namespace speech::css {

EmbeddingVerdict judge_embedding(const std::optional<std::vector<double>>& embedding) {
  if (!embedding) return EmbeddingVerdict::kMissing;
  return tracker::all_finite(*embedding) ? EmbeddingVerdict::kUsable : EmbeddingVerdict::kNotFinite;
}

}  // namespace speech::css
