#include "tracker/embedding_update.h"

#include "tracker/signal_reliability.h"

namespace speech::tracker {
namespace {

// The entries of the history after the append and the cap, as the list
// will hold them.
std::vector<const Vector*> extended_history(const EmbeddingUpdate& update, const Vector& old, const Vector& fresh,
                                            const std::vector<Vector>* history) {
  std::vector<const Vector*> entries;
  if (history) {
    for (const Vector& entry : *history) entries.push_back(&entry);
  } else {
    entries.push_back(&old);
  }
  entries.push_back(update.appends_fresh ? &fresh : &*update.appended);
  if (update.drops_oldest) entries.erase(entries.begin());
  return entries;
}

void plan_history(EmbeddingUpdate& update, double max_history, const Vector& old, const Vector& fresh,
                  const std::vector<Vector>* history) {
  update.seeds_history = history == nullptr;
  const size_t length_after_append = (history ? history->size() : 1) + 1;
  update.drops_oldest = static_cast<double>(length_after_append) > max_history;
  update.stored = EmbeddingUpdate::Stored::kComputed;
  update.computed = normalise(elementwise_mean(extended_history(update, old, fresh, history)));
}

}  // namespace

std::optional<UpdateStrategy> update_strategy_named(std::string_view name) {
  if (name == "no_update") return UpdateStrategy::kNoUpdate;
  if (name == "replace") return UpdateStrategy::kReplace;
  if (name == "ema") return UpdateStrategy::kEma;
  if (name == "history_mean") return UpdateStrategy::kHistoryMean;
  if (name == "ema_with_history") return UpdateStrategy::kEmaWithHistory;
  return std::nullopt;
}

common::ValueError unknown_strategy_error(const std::string& rendered) {
  return common::ValueError("未知的embedding更新策略: " + rendered);
}

bool accepts_update(std::optional<double> quality_db, double max_inter_sisdr, bool finite_embedding) {
  return !is_poorly_separated(quality_db, max_inter_sisdr) && finite_embedding;
}

EmbeddingUpdate plan_embedding_update(UpdateStrategy strategy, double ema_alpha, double max_history, const Vector& old,
                                      const Vector& fresh, const std::vector<Vector>* history) {
  EmbeddingUpdate update;
  switch (strategy) {
    case UpdateStrategy::kNoUpdate:
      break;
    case UpdateStrategy::kReplace:
      update.stored = EmbeddingUpdate::Stored::kFresh;
      break;
    case UpdateStrategy::kEma:
      update.stored = EmbeddingUpdate::Stored::kComputed;
      update.computed = normalise(blend(ema_alpha, fresh, old));
      break;
    case UpdateStrategy::kHistoryMean:
      update.appends_fresh = true;
      plan_history(update, max_history, old, fresh, history);
      break;
    case UpdateStrategy::kEmaWithHistory:
      // Blended with what is stored now, which after the first update is the
      // normalised history mean, not the previous blend.
      update.appended = blend(ema_alpha, fresh, old);
      plan_history(update, max_history, old, fresh, history);
      break;
  }
  return update;
}

}  // namespace speech::tracker
