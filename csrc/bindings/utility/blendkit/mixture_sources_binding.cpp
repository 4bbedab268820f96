// Loading and cropping the drawn utterances of a synthesis attempt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bindings/utility/blendkit/corpus_text_edge.h"
#include "bindings/utility/blendkit/mixture_sources.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "common/errors.h"
#include "mixsim/segment_ops.h"
#include "mixsim/signal_faults.h"
#include "mixsim/utterance_crop.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

// A file that seeks exactly (PCM or float WAV, FLAC), held open for its
// crop: what the crop is made from is all that is read, at the dataset's
// rate or at another, whose resampling is then checked as the whole
// utterance's would be (a sample that is not finite aside: the loading scan
// looks for those). Nothing for any other file, one libsndfile cannot open
// (the whole-file read then reports it), or one that resampling refuses
// (the general path then reports that).
std::optional<Source> open_for_crop(const py::object& speaker, const py::object& path, const py::object& target_sr) {
  if (!py::isinstance<py::str>(path)) return std::nullopt;
  const std::optional<std::string> file = corpus::file_system_bytes(path);
  if (!file) return std::nullopt;
  std::unique_ptr<mixsim::SegmentReader> reader;
  try {
    reader = std::make_unique<mixsim::SegmentReader>(*file);
  } catch (const OSError&) {
    return std::nullopt;
  }
  if (!reader->seeks_exactly() || reader->frames() == 0) return std::nullopt;
  Source source{speaker, path, float_zeros(0), std::nullopt, 0.0, nullptr};
  const py::int_ rate(reader->sample_rate());
  if (rate.not_equal(target_sr)) {
    const double file_rate = py::cast<double>(rate);
    const double target_rate = py::cast<double>(target_sr);
    try {
      mixsim::check_utterance_resampling_shape(reader->frames(), file_rate, target_rate);
    } catch (const ValueError&) {
      return std::nullopt;
    }
    source.file_rate = file_rate;
    source.target_rate = target_rate;
  }
  source.reader = std::move(reader);
  return source;
}

// A file held open for its crop is scanned for samples that are not finite
// (at any rate, before it is resampled, which would refuse it too); one
// that then cannot be read is unreadable all the same.
LoadedSource scanned(Source source) {
  mixsim::LoadedUtterance found;
  try {
    found.non_finite = source.reader->first_non_finite_frame();
  } catch (const OSError& e) {
    print_warning("sf.read failed for ", source.path, py::str(e.what()));
    found.refused = true;
    return {std::move(source), found};
  }
  found.samples = source.length();
  return {std::move(source), found};
}

// The utterance as _load_audio reads it, left at the file's rate when it is
// to be resampled; nothing when resampling it would fail (the general path
// then reports that).
std::optional<LoadedSource> read_directly(const py::object& speaker, const py::object& path,
                                          const py::object& target_sr) {
  if (std::optional<Source> lazy = open_for_crop(speaker, path, target_sr)) return scanned(std::move(*lazy));
  const auto [read, rate] = unpack_pair(safe_sf_read(path, py::str("float32")));
  LoadedSource loaded{{speaker, path, float32_view(first_channel(read)), std::nullopt, 0.0, nullptr}, {}};
  Source& source = loaded.source;
  loaded.found.samples = source.wave.size();
  loaded.found.non_finite = mixsim::first_non_finite(source.wave.data(), source.wave.size());
  if (loaded.found.non_finite || source.wave.size() == 0 || !rate.not_equal(target_sr)) return loaded;
  const double file_rate = py::cast<double>(rate);
  const double target_rate = py::cast<double>(target_sr);
  try {
    mixsim::check_utterance_resampling(source.wave.data(), source.wave.size(), file_rate, target_rate);
  } catch (const ValueError&) {
    return std::nullopt;
  }
  source.file_rate = file_rate;
  source.target_rate = target_rate;
  return loaded;
}

LoadedSource load_through_package(const py::object& speaker, const py::object& path, const py::object& target_sr) {
  const auto [data, rate] = unpack_pair(blendkit_attr("_load_audio")(path, target_sr));
  LoadedSource loaded{{speaker, path, float32_view(data), std::nullopt, 0.0, nullptr}, {}};
  const FloatArray& wave = loaded.source.wave;
  loaded.found.samples = wave.size();
  loaded.found.at_target_rate = !rate.not_equal(target_sr);
  if (wave.size() > 0 && loaded.found.at_target_rate) {
    loaded.found.non_finite = mixsim::first_non_finite(wave.data(), wave.size());
  }
  return loaded;
}

// The crop of a source held open: its frames, at the file's rate, or those
// its resampled crop is made from. OSError when they cannot be read.
void read_crop(const Source& source, int64_t start, int64_t L, float* out) {
  const int64_t frames = source.reader->frames();
  if (!source.file_rate) {
    const int64_t kept = std::max<int64_t>(0, std::min(L, frames - start));
    source.reader->read_first_channel(start, kept, out);
    std::fill(out + kept, out + L, 0.0f);
    return;
  }
  const double file_rate = *source.file_rate;
  const SampleStretch have = mixsim::frames_for_crop(frames, file_rate, source.target_rate, start, L);
  std::vector<float> samples(static_cast<size_t>(have.end - have.first));
  source.reader->read_first_channel(have.first, have.end - have.first, samples.data());
  mixsim::crop_resampled_frames(samples.data(), have, frames, file_rate, source.target_rate, start, L, out);
}

}  // namespace

LoadedSource load_source(const py::object& speaker, const py::object& path, const py::object& target_sr,
                         bool direct) {
  if (direct) {
    if (std::optional<LoadedSource> loaded = read_directly(speaker, path, target_sr)) return std::move(*loaded);
  }
  return load_through_package(speaker, path, target_sr);
}

FloatArray fitted(const FloatArray& wave, int64_t L) {
  FloatArray out(static_cast<py::ssize_t>(L));
  mixsim::crop_or_pad(wave.data(), wave.size(), 0, L, out.mutable_data());
  return out;
}

std::optional<FloatArray> crop_source(const Source& source, int64_t start, int64_t L) {
  FloatArray out(static_cast<py::ssize_t>(L));
  if (source.reader) {
    try {
      read_crop(source, start, L, out.mutable_data());
    } catch (const OSError& e) {
      // A file that opened but cannot be read is unreadable all the same.
      print_warning("sf.read failed for ", source.path, py::str(e.what()));
      return std::nullopt;
    }
  } else if (source.file_rate) {
    mixsim::crop_resampled_utterance(source.wave.data(), source.wave.size(), *source.file_rate,
                                     source.target_rate, start, L, out.mutable_data());
  } else {
    mixsim::crop_or_pad(source.wave.data(), source.wave.size(), start, L, out.mutable_data());
  }
  return out;
}

}  // namespace speech::mixture
