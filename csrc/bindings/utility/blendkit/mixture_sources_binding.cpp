// Loading and cropping the drawn utterances of a synthesis attempt.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bindings/utility/blendkit/mixture_sources.h"
#include "bindings/utility/blendkit/corpus_text_edge.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "common/errors.h"
#include "mixsim/segment_ops.h"
#include "mixsim/signal_faults.h"
#include "mixsim/utterance_crop.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

// The reading and resampling functions the package was built with. While
// they are the package's names, an utterance is read by them as
// _load_audio reads it and resampled over its crop only; a patched name
// takes the general path through the package.
struct OriginalReaders {
  py::handle load_audio;
  py::handle safe_sf_read;
  py::handle resample;
};

OriginalReaders& original_readers() {
  static OriginalReaders readers;
  return readers;
}

bool readers_are_original() {
  const OriginalReaders& readers = original_readers();
  if (!readers.load_audio) return false;
  const py::object resample = blendkit_attr("librosa").attr("resample");
  return blendkit_attr("_load_audio").ptr() == readers.load_audio.ptr() &&
         blendkit_attr("_safe_sf_read").ptr() == readers.safe_sf_read.ptr() &&
         resample.ptr() == readers.resample.ptr();
}

// A file that seeks exactly (PCM or float WAV, FLAC), held open for its
// crop: what the crop is made from is all that is read, at the dataset's
// rate or at another, whose resampling is then checked as the whole
// utterance's would be (a sample that is not finite aside: refuse_lazy
// scans for those). Nothing for any other file, one libsndfile cannot open
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

// A sample that is not a finite number would make every batch the utterance
// enters NaN: the utterance is refused like an unreadable one, whatever its
// rate, before it is resampled (which would refuse it too) or cropped.
bool refuse_non_finite(const py::object& path, const std::optional<mixsim::NonFiniteSample>& bad) {
  if (!bad) return false;
  print_warning("non-finite audio ", path, mixsim::describe_non_finite(*bad, "frame"));
  return true;
}

bool refuse_non_finite(const py::object& path, const FloatArray& wave) {
  return refuse_non_finite(path, mixsim::first_non_finite(wave.data(), wave.size()));
}

// A file held open for its crop is scanned for non-finite samples first; one
// that then cannot be read is unreadable all the same.
bool refuse_lazy(const Source& source) {
  try {
    return refuse_non_finite(source.path, source.reader->first_non_finite_frame());
  } catch (const OSError& e) {
    print_warning("sf.read failed for ", source.path, py::str(e.what()));
    return true;
  }
}

// What reading a drawn utterance straight through the package's own reader
// gave: a source, a refusal already reported, or neither when the general
// path is to read it.
struct DirectRead {
  std::optional<Source> source;
  bool refused = false;
};

// The utterance as _load_audio reads it, left at the file's rate when it is
// to be resampled; neither a source nor a refusal when resampling it would
// fail (the general path then reports that).
DirectRead read_utterance(const py::object& speaker, const py::object& path, const py::object& target_sr) {
  if (std::optional<Source> lazy = open_for_crop(speaker, path, target_sr)) {
    if (refuse_lazy(*lazy)) return {std::nullopt, true};
    return {std::move(lazy), false};
  }
  const auto [read, rate] = unpack_pair(safe_sf_read(path, py::str("float32")));
  py::object data = read;
  if (ndim_of(data) == 2) data = data[py::make_tuple(slice_of(py::none(), py::none()), 0)];
  Source source{speaker, path, float32_view(data), std::nullopt, 0.0, nullptr};
  if (refuse_non_finite(path, source.wave)) return {std::nullopt, true};
  if (source.wave.size() == 0 || !rate.not_equal(target_sr)) return {std::move(source), false};
  const double file_rate = py::cast<double>(rate);
  const double target_rate = py::cast<double>(target_sr);
  try {
    mixsim::check_utterance_resampling(source.wave.data(), source.wave.size(), file_rate, target_rate);
  } catch (const ValueError&) {
    return {};
  }
  source.file_rate = file_rate;
  source.target_rate = target_rate;
  return {std::move(source), false};
}

// Empty (unreadable), left at another rate (its resampling failed, already
// reported) or not finite: the source would enter the batch as silence, at
// the wrong rate or as NaN.
bool usable(const Source& source, const py::object& rate, const py::object& target_sr) {
  if (source.wave.size() == 0 || rate.not_equal(target_sr)) return false;
  return !refuse_non_finite(source.path, source.wave);
}

Source load_through_package(const py::object& speaker, const py::object& path, const py::object& target_sr,
                            bool& all_usable) {
  const auto [data, rate] = unpack_pair(blendkit_attr("_load_audio")(path, target_sr));
  Source source{speaker, path, float32_view(data), std::nullopt, 0.0, nullptr};
  if (!usable(source, rate, target_sr)) all_usable = false;
  return source;
}

}  // namespace

int64_t draw_int(const py::object& stream, int64_t low, int64_t high) {
  return py::cast<int64_t>(stream.attr("randint")(low, high));
}

FloatArray pad_or_crop(const FloatArray& wave, int64_t L, const py::object* stream) {
  const int64_t n = wave.size();
  const int64_t start = (stream != nullptr && n > L) ? draw_int(*stream, 0, n - L) : 0;
  FloatArray out(static_cast<py::ssize_t>(L));
  mixsim::crop_or_pad(wave.data(), n, start, L, out.mutable_data());
  return out;
}

namespace {

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

std::optional<FloatArray> crop_source(const Source& source, int64_t L, const py::object& stream) {
  if (!source.file_rate && !source.reader) return pad_or_crop(source.wave, L, &stream);
  const int64_t n = source.length();
  const int64_t start = n > L ? draw_int(stream, 0, n - L) : 0;
  FloatArray out(static_cast<py::ssize_t>(L));
  if (source.reader) {
    try {
      read_crop(source, start, L, out.mutable_data());
    } catch (const OSError& e) {
      // A file that opened but cannot be read is unreadable all the same.
      print_warning("sf.read failed for ", source.path, py::str(e.what()));
      return std::nullopt;
    }
  } else {
    mixsim::crop_resampled_utterance(source.wave.data(), source.wave.size(), *source.file_rate,
                                     source.target_rate, start, L, out.mutable_data());
  }
  return out;
}

std::optional<std::vector<Source>> load_sources(const py::object& picks, const py::object& target_sr) {
  std::vector<Source> sources;
  bool all_usable = true;
  const bool direct = readers_are_original();
  for (const py::handle pick : picks) {
    const auto [speaker, path] = unpack_pair(pick);
    DirectRead read;
    if (direct) read = read_utterance(speaker, path, target_sr);
    if (read.refused) {
      all_usable = false;
    } else if (read.source) {
      if (!read.source->reader && read.source->wave.size() == 0) all_usable = false;
      sources.push_back(std::move(*read.source));
    } else {
      sources.push_back(load_through_package(speaker, path, target_sr, all_usable));
    }
  }
  if (!all_usable) return std::nullopt;
  return sources;
}


void remember_original_readers(const py::module_& package) {
  OriginalReaders& readers = original_readers();
  // Held for the life of the process, like the package's own names.
  readers.load_audio = py::object(package.attr("_load_audio")).release();
  readers.safe_sf_read = py::object(package.attr("_safe_sf_read")).release();
  readers.resample = py::object(package.attr("librosa").attr("resample")).release();
}

}  // namespace speech::mixture
