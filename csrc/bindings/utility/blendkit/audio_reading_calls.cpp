// _safe_sf_read and _load_audio: every audio file of the training stream is
// opened here, through libsndfile, and a file that cannot be read becomes an
// empty signal and one warning line instead of an error.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/utility/blendkit/signal_arrays.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "bindings/utility/blendkit/warning_line.h"
#include "common/errors.h"
#include "common/os_path.h"
#include "common/wav_io.h"
#include "mixsim/audio_reading.h"
#include "pyutil/fs_path.h"
#include "pyutil/ordinary_errors.h"
#include "pyutil/py_print.h"
#include "pyutil/unpack_pair.h"

namespace py = pybind11;

namespace speech {
namespace {

using namespace signal_arrays;

// The file name as the reader reports it: a path-like object's own path.
py::object file_name(const py::object& path) {
  if (py::hasattr(path, "__fspath__")) return path.attr("__fspath__")();
  return path;
}

// Only a text or bytes name is a file the reader opens; anything else is
// refused as the reader refuses it.
std::string encoded_path(const py::object& name) {
  if (!PyUnicode_Check(name.ptr()) && !PyBytes_Check(name.ptr())) {
    throw common::TypeError("Invalid file: " + pyutil::py_str(py::repr(name)));
  }
  return pyutil::fs_encode(name);
}

common::AudioFileReader open_reader(const py::object& name) {
  const std::string path = encoded_path(name);
  mixsim::check_readable_unaided(common::path_splitext(path).extension);
  try {
    return common::AudioFileReader(path);
  } catch (const common::SndfileError& e) {
    // The name as the caller gave it, not its file-system bytes.
    throw common::OSError("Error opening " + pyutil::py_str(py::repr(name)) + ": " + e.reason);
  }
}

mixsim::SampleType sample_type_of(const py::object& dtype) {
  return mixsim::sample_type_named(py::module_::import("numpy").attr("dtype")(dtype).attr("name").cast<std::string>());
}

// One channel reads as a 1-D array, more as (frames, channels); a file that
// ends early gives the frames it has.
template <typename T>
py::object read_samples(common::AudioFileReader& reader) {
  const int64_t frames = reader.frames();
  const int channels = reader.channels();
  std::vector<py::ssize_t> shape{static_cast<py::ssize_t>(frames)};
  if (channels > 1) shape.push_back(channels);
  py::array_t<T> data(shape);
  int64_t got = 0;
  try {
    py::gil_scoped_release unlocked;
    got = reader.read(data.mutable_data(), frames);
  } catch (const common::SndfileError& e) {
    // The warning line names the file already.
    throw common::OSError(e.reason);
  }
  if (got < frames) return data[py::slice(py::none(), py::int_(got), py::none())];
  return std::move(data);
}

py::object read_whole_file(const py::object& path, const py::object& dtype) {
  common::AudioFileReader reader = open_reader(file_name(path));
  py::object data;
  switch (sample_type_of(dtype)) {
    case mixsim::SampleType::kFloat32: data = read_samples<float>(reader); break;
    case mixsim::SampleType::kFloat64: data = read_samples<double>(reader); break;
    case mixsim::SampleType::kInt16: data = read_samples<int16_t>(reader); break;
    case mixsim::SampleType::kInt32: data = read_samples<int32_t>(reader); break;
  }
  return py::make_tuple(data, py::int_(reader.sample_rate()));
}

// A one-channel float32 read passes unchanged; anything else becomes a new
// contiguous 1-D float32 array.
py::object one_channel_float32(py::object data) {
  const py::object ndim = py::getattr(data, "ndim", py::int_(0));
  if (ndim.equal(py::int_(2))) data = data[py::make_tuple(py::slice(py::none(), py::none(), py::none()), 0)];
  if (holds_samples<float>(data) && py::reinterpret_borrow<py::array>(data).ndim() == 1) return data;
  const py::object np = blendkit_attr("np");
  const py::object as_float = np.attr("asarray")(data, py::arg("dtype") = np.attr("float32"));
  return np.attr("ascontiguousarray")(as_float).attr("reshape")(-1);
}

}  // namespace

py::object safe_sf_read(const py::object& path, const py::object& dtype) {
  py::object result;
  const std::optional<pyutil::OrdinaryError> failure =
      pyutil::run_guarded([&] { result = read_whole_file(path, dtype); });
  if (!failure) return result;
  print_warning("sf.read failed for ", path, failure->text);
  return py::make_tuple(empty_float32(), py::int_(mixsim::kFailedReadRate));
}

py::object load_audio(const py::object& path, const py::object& target_sr) {
  auto [data, sr] = pyutil::unpack_pair(blendkit_attr("_safe_sf_read")(path, py::arg("dtype") = "float32"));
  data = one_channel_float32(data);
  if (py::getattr(data, "size").cast<int64_t>() > 0 && sr.not_equal(target_sr)) {
    py::object resampled;
    const std::optional<pyutil::OrdinaryError> failure = pyutil::run_guarded([&] {
      resampled = blendkit_attr("librosa").attr("resample")(
          data, py::arg("orig_sr") = sr, py::arg("target_sr") = target_sr, py::arg("res_type") = "kaiser_fast");
    });
    if (failure) {
      print_warning("failed resample audio ", path, failure->text);
    } else {
      data = resampled;
      sr = target_sr;
    }
  }
  return py::make_tuple(data, py::int_(sr));
}

}  // namespace speech
