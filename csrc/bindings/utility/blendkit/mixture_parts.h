#pragma once
// Pieces of IterableSeparationDataset shared by its binding files: float32
// array helpers, the prepared recordings, and the steps each file defines.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "bindings/utility/blendkit/package_lookup.h"
#include "bindings/utility/blendkit/warning_line.h"
#include "common/sample_view.h"
#include "mixsim/mixture_synthesis.h"
#include "pyutil/ordinary_errors.h"
#include "pyutil/plain_class.h"
#include "pyutil/unpack_pair.h"

namespace speech::mixture {

class StreamDraws;

using FloatArray = pybind11::array_t<float, pybind11::array::c_style | pybind11::array::forcecast>;

// The samples of `obj` as a contiguous 1-D float32 array: the object itself
// when it already is one, else a converted copy.
FloatArray float32_view(const pybind11::handle& obj);

// The array's samples, as the core reads them.
inline common::SampleView<const float> array_samples(const FloatArray& array) {
  return {array.data(), static_cast<int64_t>(array.size())};
}

inline common::SampleView<float> writable_samples(FloatArray& array) {
  return {array.mutable_data(), static_cast<int64_t>(array.size())};
}

// A new float32 array of n zeros.
FloatArray float_zeros(int64_t n);

// obj.size as an integer.
int64_t size_of(const pybind11::handle& obj);

// list(items): always a new list (pybind11's list conversion hands back a
// list argument itself).
pybind11::list new_list(const pybind11::handle& items);

// Python truth value.
bool truthy(const pybind11::handle& obj);

// Column 0 of a (frames, channels) read; any other read as it is.
pybind11::object first_channel(const pybind11::object& data);
// np.asarray(x, dtype=np.float32), and that made contiguous.
pybind11::object float32_asarray(const pybind11::handle& x);
pybind11::object contiguous_float32(const pybind11::handle& x);

// The random streams of one synthesis attempt, each the interpreter's
// object with the core's draws on it.
struct AttemptStreams {
  StreamDraws& worker;
  StreamDraws& batch;
  StreamDraws& sample;
};

// The whole noise signal of `path`, prepared on first use and then served
// from the dataset's _noise_cache.
pybind11::object prepared_noise(const pybind11::object& dataset, const pybind11::object& path);

// The source `segment` reverberated with `rir` and fitted to L samples: the
// dataset's _fft_convolve_truncate, then the first L samples, zero-padded.
// rir is not empty.
FloatArray reverberated_source(const pybind11::object& dataset, const FloatArray& segment, const pybind11::object& rir,
                               int64_t L);

// One synthesis attempt: the mixture sample record, or nothing when the
// attempt failed and is to be retried.
std::optional<pybind11::dict> synthesize_sample(const pybind11::object& dataset, const AttemptStreams& streams,
                                                const mixsim::BatchSwitches& batch);

// The separation batch of the collected records.
pybind11::dict collate_batch(const std::vector<pybind11::dict>& records);

// Methods, defined in the class's order by the binding files.
void define_sampling(pyutil::PlainClass& cls);
void define_impulse_responses(pyutil::PlainClass& cls, const pybind11::module_& package);
void define_batch_stream(pyutil::PlainClass& cls, pybind11::module_& package);

}  // namespace speech::mixture
