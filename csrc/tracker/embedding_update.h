#pragma once
// How a stored speaker absorbs the embedding of a signal matched to it,
// under each update strategy, including the speaker's history list. The
// store itself is the caller's: the plan says what to store and how the
// history changes, and the caller carries it out on its own objects (so
// "replace" and "history_mean" can keep the very vector passed in).
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "tracker/embedding_math.h"

namespace speech::tracker {

enum class UpdateStrategy { kNoUpdate, kReplace, kEma, kHistoryMean, kEmaWithHistory };

// The strategy of that name; none for any other text.
std::optional<UpdateStrategy> update_strategy_named(std::string_view name);

// The ValueError for a strategy outside the five, `rendered` as text.
common::ValueError unknown_strategy_error(const std::string& rendered);

// A poorly separated signal or an embedding with a nan or an infinity never
// reaches a stored speaker (it would poison every later similarity).
bool accepts_update(std::optional<double> quality_db, double max_inter_sisdr, bool finite_embedding);

struct EmbeddingUpdate {
  enum class Stored {
    kUnchanged,  // the store keeps the old embedding: nothing was updated
    kFresh,      // the fresh embedding itself
    kComputed,   // `computed`, a new vector
  };
  Stored stored = Stored::kUnchanged;
  Vector computed;

  // History strategies only, applied in this order: create the list holding
  // the old embedding (when it has none), append an entry (the fresh
  // embedding itself, or `appended`), then drop the list's oldest entry.
  bool seeds_history = false;
  bool appends_fresh = false;
  std::optional<Vector> appended;
  bool drops_oldest = false;

  bool updated() const { return stored != Stored::kUnchanged; }
  bool touches_history() const { return appends_fresh || appended.has_value(); }
};

// The update of a speaker whose stored embedding is `old` and whose history
// list is `history` (null while it has none). A history holds at most
// `max_history` entries after the append, and at least the newest one.
EmbeddingUpdate plan_embedding_update(UpdateStrategy strategy, double ema_alpha, double max_history, const Vector& old,
                                      const Vector& fresh, const std::vector<Vector>* history);

}  // namespace speech::tracker
