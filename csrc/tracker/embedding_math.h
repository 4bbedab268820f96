#pragma once
// Vector arithmetic of speaker embeddings: similarity, normalisation and the
// blends of the embedding update strategies. Computed in double whatever the
// embeddings' own type.
#include <vector>

namespace speech::tracker {

using Vector = std::vector<double>;

// Cosine of the angle between two vectors of equal length; 0.0 when either
// norm is below 1e-8. No clipping to [-1, 1].
double cosine_similarity(const Vector& a, const Vector& b);

// x / (||x|| + 1e-8), elementwise.
Vector normalise(const Vector& x);

// alpha * fresh + (1 - alpha) * old, elementwise.
Vector blend(double alpha, const Vector& fresh, const Vector& old);

// Elementwise mean of equally long vectors (at least one).
Vector elementwise_mean(const std::vector<const Vector*>& vectors);

bool all_finite(const Vector& x);

}  // namespace speech::tracker
