#pragma once
// Overlap-add of the windows' signals onto one time line per speaker, with
// linear ramps over the samples a window shares with its neighbours, and the
// division by the summed weights that turns the sums into weighted means.
#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "common/sample_view.h"

namespace speech::css {

// `length` ones; unless `is_first` the first `overlap` values are a ramp
// 0 -> 1, then unless `is_last` the last `overlap` values a ramp 1 -> 0
// (replacing the first ramp where they meet), both ends included, spaced as
// NumPy's linspace spaces them. overlap <= 0 leaves all ones. An overlap
// longer than the window raises ValueError.
std::vector<double> create_overlap_window(int64_t length, int64_t overlap, bool is_first, bool is_last);

// One signal of one record, placed on the time line.
struct StitchPiece {
  int64_t start = 0;                     // first sample in the recording
  const std::vector<double>* window = nullptr;  // its weights; the span is window->size()
  common::SampleView<const float> f32;           // the signal, side by side: one of the two
  common::SampleView<const double> f64;
  size_t speaker = 0;                    // index of the stream it adds to
};

// Fills `streams` (total samples each, one per speaker) with the weighted
// mean of the pieces covering each sample: sum(signal * weight) / sum(weight)
// where the summed weight is above zero, else the plain sum. Per sample the
// pieces are added in list order, each sum formed in double and rounded to
// float32 as it is stored, and the division is made in float32, so the
// result is that of accumulating into full-length float32 arrays; only a
// block of the time line is held at a time.
void stitch_streams(const std::vector<StitchPiece>& pieces, const std::vector<float*>& streams,
                    int64_t total_samples);

// What one segment record contributes: its window's place and its ids.
struct StitchRecord {
  int64_t seg_idx = 0;
  int64_t start_sample = 0;
  int64_t end_sample = 0;
  std::vector<int64_t> global_ids;  // -1 (any negative) for a signal without a speaker
};

// The stitching of one recording, planned from its records: the speakers in
// ascending id order (one stream each), one overlap window per record (the
// recording's first window is not faded in, the last record not faded out),
// and one placement per signal that carries a speaker. The caller hands over
// each placement's samples, then has the streams filled.
class StitchPlan {
 public:
  struct Placement {
    size_t record = 0;    // index in the record list
    size_t position = 0;  // the signal's position in its record
    size_t speaker = 0;   // index of its stream
  };

  // A span that ends before it starts, lies outside the recording or is too
  // short for its window's ramps raises ValueError.
  StitchPlan(const std::vector<StitchRecord>& records, int64_t seg_samples, int64_t hop_samples, int64_t total_samples);

  const std::vector<int64_t>& speakers() const { return speakers_; }
  const std::vector<Placement>& placements() const { return placements_; }

  // The samples of placement `index`, side by side: at least its span's
  // length of them, else ValueError.
  void set_samples(size_t index, common::SampleView<const float> samples);
  void set_samples(size_t index, common::SampleView<const double> samples);

  // Fills one stream of total_samples per speaker, in speakers() order;
  // every placement's samples must have been set.
  void stitch(const std::vector<float*>& streams) const;

 private:
  const std::vector<double>* window_for(const StitchRecord& record, int64_t overlap, int64_t last_seg_idx);
  StitchPiece& piece_for(size_t index, int64_t available);
  template <typename T>
  void set_piece_samples(size_t index, common::SampleView<const T> samples);

  int64_t total_samples_;
  std::vector<int64_t> speakers_;
  std::vector<Placement> placements_;
  std::vector<StitchPiece> pieces_;  // parallel to placements_
  // Windows of one shape are shared; std::map keeps their addresses.
  std::map<std::tuple<int64_t, bool, bool>, std::vector<double>> windows_;
};

}  // namespace speech::css
