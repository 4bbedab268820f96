// The resampling module: one binding of the C++ Kaiser resampler, offered as
// `speech_resample.librosa.resample(y, *, orig_sr, target_sr, res_type)`.
// Every deliverable binds that `librosa` object under its own module-level
// name `librosa`, so calls written against librosa run our resampler.
#include <pybind11/pybind11.h>

#include "bindings/speech_resample/resample_edge.h"
#include "pyutil/errors.h"
#include "pyutil/package_namespace.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {
namespace {

py::object librosa_resample(const py::object& y, const py::object& orig_sr, const py::object& target_sr,
                             const py::object& res_type) {
  using namespace resample_edge;
  const pyutil::FloatKind precision = audio_precision(y);
  const double orig = rate_value(orig_sr, "orig_sr");
  const double target = rate_value(target_sr, "target_sr");
  resample::check_sample_rates(orig, target);
  const resample::ResampleFilter filter = filter_value(res_type);
  const auto arr = py::reinterpret_borrow<py::array>(y);
  if (precision == pyutil::FloatKind::kFloat32) return resample_array<float>(arr, orig, target, filter);
  return resample_array<double>(arr, orig, target, filter);
}

}  // namespace
}  // namespace speech

PYBIND11_MODULE(_speech_resample, m) {
  py::options options;
  // Each function's docstring carries its own signature (pyutil/text_signature.h).
  options.disable_function_signatures();
  speech::pyutil::register_error_translation();
  py::module_ package = speech::pyutil::package_namespace(m);
  py::module_ librosa = package.def_submodule(
      "librosa", "Stands in for librosa where the system calls librosa.resample.");
  speech::pyutil::def_function(librosa, "resample", &speech::librosa_resample, py::arg("y"), py::kw_only(),
                               py::arg("orig_sr"), py::arg("target_sr"), py::arg("res_type") = "kaiser_best",
                               "Resample the 1-D float32/float64 signal y from orig_sr to target_sr Hz with\n"
                               "the \"kaiser_best\" or \"kaiser_fast\" filter. The result has y's dtype and\n"
                               "ceil(len(y) * target_sr / orig_sr) samples; equal rates return y.");
}
