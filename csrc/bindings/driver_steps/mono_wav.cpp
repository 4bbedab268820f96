#include "bindings/driver_steps/mono_wav.h"

#include <pybind11/numpy.h>

#include "common/errors.h"
#include "common/wav_io.h"
#include "pyutil/package_namespace.h"

namespace py = pybind11;

namespace speech {

void write_mono_wav(const char* package, const std::string& path, const py::object& signal, const py::object& rate,
                    const char* what) {
  const py::array array = pyutil::package_attr(package, "np").attr("ascontiguousarray")(signal);
  if (array.ndim() != 1) {
    throw common::ValueError(std::string(what) + " for " + path + " must be 1-D, got " + std::to_string(array.ndim()) +
                     " dimensions");
  }
  const int sample_rate = rate.cast<int>();
  if (array.dtype().is(py::dtype::of<float>())) {
    const auto samples = py::array_t<float>::ensure(array);
    common::write_wav(path, samples.data(), samples.size(), 1, sample_rate);
    return;
  }
  const auto samples = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
  if (!samples) throw py::error_already_set();
  common::write_wav(path, samples.data(), samples.size(), 1, sample_rate);
}

}  // namespace speech
