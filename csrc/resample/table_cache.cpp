#include "resample/table_cache.h"

#include <algorithm>
#include <deque>
#include <mutex>

namespace speech::resample {

namespace {

struct CachedTable {
  ResampleFilter filter;
  double scale;
  std::shared_ptr<const InterpTable> table;
};

constexpr size_t kCapacity = 4;

std::mutex& cache_mutex() {
  static std::mutex mutex;
  return mutex;
}

// Most recently used first.
std::deque<CachedTable>& cache_entries() {
  static std::deque<CachedTable> entries;
  return entries;
}

std::shared_ptr<const InterpTable> take(ResampleFilter filter, double scale) {
  auto& entries = cache_entries();
  const auto it = std::find_if(entries.begin(), entries.end(),
                               [&](const CachedTable& e) { return e.filter == filter && e.scale == scale; });
  if (it == entries.end()) return nullptr;
  CachedTable hit = *it;
  entries.erase(it);
  entries.push_front(hit);
  return hit.table;
}

}  // namespace

std::shared_ptr<const InterpTable> cached_interp_table(ResampleFilter filter, double sample_ratio) {
  // Every ratio from 1 up gives the same table.
  const double scale = std::min(1.0, sample_ratio);
  {
    const std::lock_guard<std::mutex> lock(cache_mutex());
    if (auto table = take(filter, scale)) return table;
  }
  // Built outside the lock; a concurrent build of the same table is harmless.
  auto built = std::make_shared<const InterpTable>(prepare_table(kaiser_filter(filter), scale));
  const std::lock_guard<std::mutex> lock(cache_mutex());
  if (auto table = take(filter, scale)) return table;
  auto& entries = cache_entries();
  entries.push_front({filter, scale, built});
  if (entries.size() > kCapacity) entries.pop_back();
  return built;
}

}  // namespace speech::resample
