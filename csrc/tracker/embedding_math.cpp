#include "tracker/embedding_math.h"

#include <cmath>
#include <string>

#include "common/errors.h"

namespace speech::tracker {
namespace {

void require_same_length(const Vector& a, const Vector& b) {
  if (a.size() != b.size()) {
    throw common::ValueError("embeddings have different lengths: " + std::to_string(a.size()) + " and " +
                     std::to_string(b.size()));
  }
}

double norm_of(const Vector& x) {
  double sum = 0.0;
  for (const double v : x) sum += v * v;
  return std::sqrt(sum);
}

}  // namespace

double cosine_similarity(const Vector& a, const Vector& b) {
  require_same_length(a, b);
  double dot = 0.0;
  for (size_t i = 0; i < a.size(); ++i) dot += a[i] * b[i];
  const double norm_a = norm_of(a);
  const double norm_b = norm_of(b);
  if (norm_a < 1e-8 || norm_b < 1e-8) return 0.0;
  return dot / (norm_a * norm_b);
}

Vector normalise(const Vector& x) {
  const double denominator = norm_of(x) + 1e-8;
  Vector out(x.size());
  for (size_t i = 0; i < x.size(); ++i) out[i] = x[i] / denominator;
  return out;
}

Vector blend(double alpha, const Vector& fresh, const Vector& old) {
  require_same_length(fresh, old);
  Vector out(fresh.size());
  for (size_t i = 0; i < fresh.size(); ++i) out[i] = (alpha * fresh[i]) + ((1.0 - alpha) * old[i]);
  return out;
}

Vector elementwise_mean(const std::vector<const Vector*>& vectors) {
  if (vectors.empty()) throw common::ValueError("mean of an empty embedding history");
  Vector sum(vectors.front()->size(), 0.0);
  for (const Vector* v : vectors) {
    require_same_length(sum, *v);
    for (size_t i = 0; i < v->size(); ++i) sum[i] += (*v)[i];
  }
  for (double& v : sum) v /= static_cast<double>(vectors.size());
  return sum;
}

bool all_finite(const Vector& x) {
  for (const double v : x) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

}  // namespace speech::tracker
