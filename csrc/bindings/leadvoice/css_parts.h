#pragma once
// CSSProcessor is assembled from one binding file per concern of the css
// core: the processor frame (windows, reset, stitching call), the window's
// separation and output selection, merging and speaker assignment, the
// inspection dump and the stitching. This header carries what they share.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <torch/csrc/utils/pybind.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "css/signal_pool.h"
#include "css/windowing.h"
#include "pyutil/numpy_view.h"
#include "pyutil/plain_class.h"
#include "pyutil/py_print.h"
#include "pyutil/unpack_pair.h"

namespace speech::css_binding {

// The processor's fields as one process() call reads them from the instance.
struct ProcessorSettings {
  pybind11::object separation_model;
  pybind11::object speaker_tracker;
  pybind11::object max_speakers_obj;     // passed to the network as it was given
  pybind11::object merge_threshold_obj;  // printed in its default text form
  pybind11::object segments_save_dir;
  at::Device device = at::kCPU;
  int64_t max_speakers = 0;
  int64_t seg_samples = 0;
  int64_t hop_samples = 0;
  int64_t padding_samples = 0;
  double sample_rate = 0.0;
  int wav_sample_rate = 0;
  double sisdr_threshold = 0.0;
  double sisdr_threshold_prev = 0.0;
  double merge_threshold = 0.0;
};

// The recording given to process(), read in place where its layout allows.
struct Recording {
  pyutil::FloatSamples samples;
  int64_t length = 0;
};

// One window after separation and selection.
struct SeparatedWindow {
  int64_t seg_idx = 0;
  css::WindowSpan span;
  pybind11::list all_separated;          // kept outputs, NumPy arrays of seg_samples
  std::vector<double> separation_quality;  // parallel to all_separated
};

// State that spans the windows of one process() call.
struct RecordingState {
  bool is_first_valid_segment = true;
  pybind11::list segment_results;
  std::shared_ptr<css::SignalPool> pool = css::SignalPool::create();
};

// Part of the window loop, in calling order.
SeparatedWindow separate_window(const ProcessorSettings& settings, const Recording& recording, int64_t seg_idx,
                                int64_t num_segments, css::SignalPool& pool);
void assign_window(const ProcessorSettings& settings, const Recording& recording, SeparatedWindow& window,
                   RecordingState& state);
void dump_window(const ProcessorSettings& settings, const Recording& recording, const SeparatedWindow& window,
                 const pybind11::list& signals);

// Methods and module functions, registered by bind_css.
void define_processor(pyutil::PlainClass& cls);
void define_stitching(pyutil::PlainClass& cls);
void bind_measures(pybind11::module_& m);
void bind_checkpoint(pybind11::module_& m);

// `value` as a 1-D float32/float64 NumPy array (no copy), else TypeError.
inline pybind11::array float_array(const pybind11::handle& value, const std::string& what) {
  if (!pybind11::isinstance<pybind11::array>(value)) {
    throw common::TypeError(what + " must be a NumPy array, got " + pyutil::type_name(value));
  }
  pybind11::array arr = pybind11::reinterpret_borrow<pybind11::array>(value);
  (void)pyutil::float_kind_of(arr, what);
  return arr;
}

}  // namespace speech::css_binding
