// rms_level and rms_normalize over NumPy arrays of any shape, in the array's
// own floating-point type.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <vector>

#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "common/errors.h"
#include "driver/rms.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {
namespace {

// The samples in memory order as one contiguous run, which is the order in
// which NumPy reduces a contiguous array.
py::array flat_samples(const py::object& audio) {
  if (!py::isinstance<py::array>(audio)) {
    throw common::TypeError("audio must be a NumPy array, got " + pyutil::py_str(py::type::of(audio)));
  }
  const auto array = py::reinterpret_borrow<py::array>(audio);
  const py::dtype dtype = array.dtype();
  if (!dtype.is(py::dtype::of<float>()) && !dtype.is(py::dtype::of<double>())) {
    throw common::TypeError("audio must be a float32 or float64 array, got " + pyutil::py_str(dtype));
  }
  return array.attr("ravel")("K");
}

template <typename T>
py::object rms_of(const py::array& flat) {
  const auto samples = py::array_t<T, py::array::c_style>::ensure(flat);
  return py::dtype::of<T>().attr("type")(driver::rms_level(common::contiguous_samples(samples.data(), samples.size())));
}

py::object rms_level_py(py::object audio) {
  const py::array flat = flat_samples(audio);
  return flat.dtype().is(py::dtype::of<float>()) ? rms_of<float>(flat) : rms_of<double>(flat);
}

template <typename T>
py::array normalized(const py::array& source, const py::array& flat, double gain) {
  const auto samples = py::array_t<T, py::array::c_style>::ensure(flat);
  const std::vector<T> out =
      driver::scale_with_peak_limit(common::contiguous_samples(samples.data(), samples.size()), gain);
  py::array_t<T> result(static_cast<py::ssize_t>(out.size()), out.data());
  return result.attr("reshape")(source.attr("shape"));
}

py::object rms_normalize(py::object audio, py::object target_rms) {
  const py::array flat = flat_samples(audio);
  const py::object cur_rms = leadvoice_attr("rms_level")(audio);
  if (py::bool_(cur_rms.equal(py::int_(0)))) return audio;
  const double gain = (target_rms / cur_rms).cast<double>();
  const auto source = py::reinterpret_borrow<py::array>(audio);
  return flat.dtype().is(py::dtype::of<float>()) ? normalized<float>(source, flat, gain)
                                                  : normalized<double>(source, flat, gain);
}

}  // namespace

void define_rms(py::module_& m) {
  pyutil::def_function(m, "rms_level", &rms_level_py, py::arg("audio"), "计算音频的RMS（均方根）能量");
  pyutil::def_function(m, "rms_normalize", &rms_normalize, py::arg("audio"), py::arg("target_rms") = 0.1);
}

}  // namespace speech
