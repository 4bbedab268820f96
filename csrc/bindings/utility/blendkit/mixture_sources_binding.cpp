// Loading and cropping the drawn utterances of a synthesis attempt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "bindings/utility/blendkit/mixture_sources.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "common/errors.h"
#include "mixsim/segment_ops.h"
#include "mixsim/signal_faults.h"
#include "mixsim/utterance_source.h"
#include "pyutil/fs_path.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

// A text path libsndfile can open as a file that seeks exactly, held open
// for its crop.
std::optional<Source> open_for_crop(const py::object& speaker, const py::object& path, const py::object& target_sr) {
  if (!py::isinstance<py::str>(path)) return std::nullopt;
  const std::optional<std::string> file = pyutil::try_fs_encode(path);
  if (!file) return std::nullopt;
  std::optional<mixsim::UtteranceSource> held = mixsim::open_for_crop(*file, py::cast<double>(target_sr));
  if (!held) return std::nullopt;
  return Source{speaker, path, float_zeros(0), std::move(*held)};
}

// A file held open for its crop is scanned for samples that are not finite
// (at any rate, before it is resampled, which would refuse it too); one
// that then cannot be read is unreadable all the same.
LoadedSource scanned(Source source) {
  mixsim::LoadedUtterance found;
  try {
    found.non_finite = source.samples.reader->first_non_finite_frame();
  } catch (const common::OSError& e) {
    print_warning("sf.read failed for ", source.path, e.what());
    found.refused = true;
    return {std::move(source), found};
  }
  found.samples = source.samples.length();
  return {std::move(source), found};
}

// The utterance as _load_audio reads it, left at the file's rate when it is
// to be resampled; nothing when resampling it would fail (the general path
// then reports that).
std::optional<LoadedSource> read_directly(const py::object& speaker, const py::object& path,
                                          const py::object& target_sr) {
  if (std::optional<Source> lazy = open_for_crop(speaker, path, target_sr)) return scanned(std::move(*lazy));
  const auto [read, rate] = pyutil::unpack_pair(safe_sf_read(path, py::str("float32")));
  const FloatArray wave = float32_view(first_channel(read));
  mixsim::LoadedUtterance found;
  found.samples = wave.size();
  found.non_finite = mixsim::first_non_finite(array_samples(wave));
  // One that is not finite is judged, and refused, as it is.
  std::optional<mixsim::UtteranceSource> samples = mixsim::in_memory(array_samples(wave));
  if (!found.non_finite) {
    samples = mixsim::in_memory_at(array_samples(wave), py::cast<double>(rate), py::cast<double>(target_sr));
  }
  if (!samples) return std::nullopt;
  return LoadedSource{{speaker, path, wave, std::move(*samples)}, found};
}

LoadedSource load_through_package(const py::object& speaker, const py::object& path, const py::object& target_sr) {
  const auto [data, rate] = pyutil::unpack_pair(blendkit_attr("_load_audio")(path, target_sr));
  const FloatArray wave = float32_view(data);
  LoadedSource loaded{{speaker, path, wave, mixsim::in_memory(array_samples(wave))}, {}};
  loaded.found.samples = wave.size();
  loaded.found.at_target_rate = !rate.not_equal(target_sr);
  if (wave.size() > 0 && loaded.found.at_target_rate) {
    loaded.found.non_finite = mixsim::first_non_finite(array_samples(wave));
  }
  return loaded;
}

}  // namespace

LoadedSource load_source(const py::object& speaker, const py::object& path, const py::object& target_sr, bool direct) {
  if (direct) {
    if (std::optional<LoadedSource> loaded = read_directly(speaker, path, target_sr)) return std::move(*loaded);
  }
  return load_through_package(speaker, path, target_sr);
}

FloatArray fitted(const FloatArray& wave, int64_t L) {
  FloatArray out(static_cast<py::ssize_t>(L));
  mixsim::crop_or_pad(array_samples(wave), 0, L, out.mutable_data());
  return out;
}

std::optional<FloatArray> crop_source(const Source& source, int64_t start, int64_t L) {
  FloatArray out(static_cast<py::ssize_t>(L));
  try {
    source.samples.crop(start, L, out.mutable_data());
  } catch (const common::OSError& e) {
    // A file that opened but cannot be read is unreadable all the same.
    print_warning("sf.read failed for ", source.path, e.what());
    return std::nullopt;
  }
  return out;
}

}  // namespace speech::mixture
