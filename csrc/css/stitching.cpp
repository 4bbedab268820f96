#include "css/stitching.h"

#include <algorithm>
#include <set>
#include <string>
#include <type_traits>

#include "common/errors.h"

namespace speech::css {
namespace {

constexpr int64_t kBlock = 16384;

// NumPy's linspace: i * step + start with step = (stop - start) / (n - 1),
// the last value set to stop exactly; one value is just start.
void assign_ramp(double* out, int64_t count, double start, double stop) {
  if (count == 1) {
    out[0] = start;
    return;
  }
  const double step = (stop - start) / static_cast<double>(count - 1);
  for (int64_t i = 0; i < count; ++i) out[i] = static_cast<double>(i) * step + start;
  out[count - 1] = stop;
}

template <typename T>
void add_piece(const T* signal, const double* window, int64_t count, float* sums, float* weights) {
  for (int64_t i = 0; i < count; ++i) {
    const double weight = window[i];
    sums[i] = static_cast<float>(static_cast<double>(sums[i]) + static_cast<double>(signal[i]) * weight);
    weights[i] = static_cast<float>(static_cast<double>(weights[i]) + weight);
  }
}

// Pieces overlapping each block, in list order.
std::vector<std::vector<size_t>> pieces_by_block(const std::vector<StitchPiece>& pieces, int64_t blocks) {
  std::vector<std::vector<size_t>> by_block(static_cast<size_t>(blocks));
  for (size_t p = 0; p < pieces.size(); ++p) {
    const int64_t length = static_cast<int64_t>(pieces[p].window->size());
    if (length == 0) continue;
    const int64_t first = pieces[p].start / kBlock;
    const int64_t last = (pieces[p].start + length - 1) / kBlock;
    for (int64_t b = first; b <= last; ++b) by_block[static_cast<size_t>(b)].push_back(p);
  }
  return by_block;
}

}  // namespace

std::vector<double> create_overlap_window(int64_t length, int64_t overlap, bool is_first, bool is_last) {
  std::vector<double> window(static_cast<size_t>(length), 1.0);
  if (overlap <= 0) return window;
  if (overlap > length) {
    throw common::ValueError("overlap of " + std::to_string(overlap) + " samples does not fit a window of " +
                     std::to_string(length) + " samples");
  }
  if (!is_first) assign_ramp(window.data(), overlap, 0.0, 1.0);
  if (!is_last) assign_ramp(window.data() + (length - overlap), overlap, 1.0, 0.0);
  return window;
}

void stitch_streams(const std::vector<StitchPiece>& pieces, const std::vector<float*>& streams,
                    int64_t total_samples) {
  const int64_t blocks = (total_samples + kBlock - 1) / kBlock;
  const std::vector<std::vector<size_t>> by_block = pieces_by_block(pieces, blocks);
  const size_t speakers = streams.size();
  std::vector<float> sums(speakers * kBlock), weights(speakers * kBlock);
  for (int64_t b = 0; b < blocks; ++b) {
    const int64_t block_start = b * kBlock;
    const int64_t block_len = std::min(kBlock, total_samples - block_start);
    std::fill(sums.begin(), sums.end(), 0.0f);
    std::fill(weights.begin(), weights.end(), 0.0f);
    for (const size_t p : by_block[static_cast<size_t>(b)]) {
      const StitchPiece& piece = pieces[p];
      const int64_t length = static_cast<int64_t>(piece.window->size());
      const int64_t from = std::max(block_start, piece.start);
      const int64_t to = std::min(block_start + block_len, piece.start + length);
      float* s = sums.data() + piece.speaker * kBlock + (from - block_start);
      float* w = weights.data() + piece.speaker * kBlock + (from - block_start);
      const double* win = piece.window->data() + (from - piece.start);
      if (piece.f64.data() != nullptr) {
        add_piece(piece.f64.subview(from - piece.start, to - from).contiguous_data(), win, to - from, s, w);
      } else {
        add_piece(piece.f32.subview(from - piece.start, to - from).contiguous_data(), win, to - from, s, w);
      }
    }
    for (size_t k = 0; k < speakers; ++k) {
      const float* s = sums.data() + k * kBlock;
      const float* w = weights.data() + k * kBlock;
      float* out = streams[k] + block_start;
      for (int64_t i = 0; i < block_len; ++i) out[i] = w[i] > 0.0f ? s[i] / w[i] : s[i];
    }
  }
}

StitchPlan::StitchPlan(const std::vector<StitchRecord>& records, int64_t seg_samples, int64_t hop_samples,
                       int64_t total_samples)
    : total_samples_(total_samples) {
  std::set<int64_t> ids;
  for (const StitchRecord& record : records) {
    for (const int64_t id : record.global_ids) {
      if (id >= 0) ids.insert(id);
    }
  }
  speakers_.assign(ids.begin(), ids.end());
  std::map<int64_t, size_t> slots;
  for (size_t k = 0; k < speakers_.size(); ++k) slots[speakers_[k]] = k;
  if (records.empty()) return;

  const int64_t overlap = seg_samples - hop_samples;
  const int64_t last_seg_idx = records.back().seg_idx;
  for (size_t r = 0; r < records.size(); ++r) {
    const StitchRecord& record = records[r];
    // Every record's window is built, also one that carries no speaker.
    const std::vector<double>* window = window_for(record, overlap, last_seg_idx);
    for (size_t position = 0; position < record.global_ids.size(); ++position) {
      const int64_t id = record.global_ids[position];
      if (id < 0) continue;
      const size_t speaker = slots.at(id);
      placements_.push_back(Placement{r, position, speaker});
      StitchPiece piece;
      piece.start = record.start_sample;
      piece.window = window;
      piece.speaker = speaker;
      pieces_.push_back(piece);
    }
  }
}

const std::vector<double>* StitchPlan::window_for(const StitchRecord& record, int64_t overlap,
                                                  int64_t last_seg_idx) {
  const int64_t start = record.start_sample;
  const int64_t end = record.end_sample;
  const int64_t length = end - start;
  if (length < 0) {
    throw common::ValueError("segment ends before it starts: " + std::to_string(start) + " > " + std::to_string(end));
  }
  const auto key = std::make_tuple(length, record.seg_idx == 0, record.seg_idx == last_seg_idx);
  auto it = windows_.find(key);
  if (it == windows_.end()) {
    it = windows_.emplace(key, create_overlap_window(length, overlap, std::get<1>(key), std::get<2>(key))).first;
  }
  if (length > 0 && (start < 0 || end > total_samples_)) {
    throw common::ValueError("segment [" + std::to_string(start) + ", " + std::to_string(end) + ") lies outside the " +
                     std::to_string(total_samples_) + " samples of the recording");
  }
  return &it->second;
}

StitchPiece& StitchPlan::piece_for(size_t index, int64_t available) {
  StitchPiece& piece = pieces_.at(index);
  if (available < static_cast<int64_t>(piece.window->size())) {
    throw common::ValueError("a separated signal holds fewer samples than its segment's span");
  }
  return piece;
}

template <typename T>
void StitchPlan::set_piece_samples(size_t index, common::SampleView<const T> samples) {
  StitchPiece& piece = piece_for(index, samples.size());
  (void)samples.contiguous_data();  // refused now rather than while stitching
  piece.f32 = {};
  piece.f64 = {};
  if constexpr (std::is_same_v<T, double>) {
    piece.f64 = samples;
  } else {
    piece.f32 = samples;
  }
}

void StitchPlan::set_samples(size_t index, common::SampleView<const float> samples) { set_piece_samples(index, samples); }

void StitchPlan::set_samples(size_t index, common::SampleView<const double> samples) { set_piece_samples(index, samples); }

void StitchPlan::stitch(const std::vector<float*>& streams) const {
  std::vector<StitchPiece> pieces;
  for (const StitchPiece& piece : pieces_) {
    if (piece.f32.data() == nullptr && piece.f64.data() == nullptr) throw common::ValueError("a stitched signal has no samples");
    if (!piece.window->empty()) pieces.push_back(piece);
  }
  stitch_streams(pieces, streams, total_samples_);
}

}  // namespace speech::css
