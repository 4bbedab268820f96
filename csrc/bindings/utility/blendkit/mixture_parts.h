#pragma once
// Pieces of IterableSeparationDataset shared by its binding files: the
// package lookups, float32 array helpers, and the steps each file defines.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bindings/utility/blendkit/package_lookup.h"
#include "bindings/utility/blendkit/warning_line.h"
#include "pyutil/plain_class.h"
#include "pyutil/unpack_pair.h"

namespace speech::mixture {

using FloatArray = pybind11::array_t<float, pybind11::array::c_style | pybind11::array::forcecast>;

// The samples of `obj` as a contiguous 1-D float32 array: the object itself
// when it already is one, else a converted copy.
FloatArray float32_view(const pybind11::handle& obj);

// A new float32 array of n zeros.
FloatArray float_zeros(int64_t n);

// obj.size as an integer, and getattr(obj, "ndim", 0).
int64_t size_of(const pybind11::handle& obj);
int64_t ndim_of(const pybind11::handle& obj);

// An exception of the interpreter's Exception family (not an interrupt or
// a request to exit), which the stream's guarded steps catch.
bool is_ordinary_exception(const pybind11::error_already_set& e);

// The slice start:stop (None for an open end).
pybind11::object slice_of(const pybind11::object& start, const pybind11::object& stop);

// list(items): always a new list (pybind11's list conversion hands back a
// list argument itself).
pybind11::list new_list(const pybind11::handle& items);

// Python truth value.
bool truthy(const pybind11::handle& obj);

// The random streams of one synthesis attempt.
struct AttemptStreams {
  pybind11::object rng;         // worker stream
  pybind11::object batch_rng;   // batch stream
  pybind11::object sample_rng;  // sample stream
};

struct BatchSwitches {
  int64_t num_speakers = 1;
  bool apply_rir = false;
  bool apply_noise = false;
};

// Notes the package's reading and resampling functions as they are when the
// class is made, so an attempt can tell whether they have been replaced.
void remember_original_readers(const pybind11::module_& package);

// The source `segment` reverberated with `rir` and fitted to L samples: the
// dataset's _fft_convolve_truncate, then the first L samples, zero-padded.
// rir is not empty.
FloatArray reverberated_source(const pybind11::object& dataset, const FloatArray& segment,
                               const pybind11::object& rir, int64_t L);

// One synthesis attempt: the mixture sample record, or nothing when the
// attempt failed and is to be retried.
std::optional<pybind11::dict> synthesize_sample(const pybind11::object& dataset, const AttemptStreams& streams,
                                                const BatchSwitches& batch);

// The separation batch of the collected records.
pybind11::dict collate_batch(const std::vector<pybind11::dict>& records);

// Methods, defined in the class's order by the binding files.
void define_sampling(PlainClass& cls);
void define_impulse_responses(PlainClass& cls);
void define_batch_stream(PlainClass& cls, pybind11::module_& package);

}  // namespace speech::mixture
