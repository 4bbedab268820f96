#include "bindings/utility/blendkit/package_originals.h"

#include "bindings/utility/blendkit/package_lookup.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

// Held for the life of the process, like the package's own names.
struct Originals {
  py::handle load_audio;
  py::handle safe_sf_read;
  py::handle resample;
  py::handle truncate_method;
  py::handle fft_convolve;
};

Originals& originals() {
  static Originals kept;
  return kept;
}

py::handle kept(const py::object& obj) { return py::object(obj).release(); }

}  // namespace

void remember_original_readers(const py::module_& package) {
  Originals& o = originals();
  o.load_audio = kept(package.attr("_load_audio"));
  o.safe_sf_read = kept(package.attr("_safe_sf_read"));
  o.resample = kept(package.attr("librosa").attr("resample"));
}

void remember_original_convolution(const py::object& dataset_class, const py::module_& package) {
  Originals& o = originals();
  o.truncate_method = kept(dataset_class.attr("_fft_convolve_truncate"));
  o.fft_convolve = kept(package.attr("_fft_convolve"));
}

bool readers_are_original() {
  const Originals& o = originals();
  if (!o.load_audio) return false;
  const py::object resample = blendkit_attr("librosa").attr("resample");
  return blendkit_attr("_load_audio").ptr() == o.load_audio.ptr() &&
         blendkit_attr("_safe_sf_read").ptr() == o.safe_sf_read.ptr() && resample.ptr() == o.resample.ptr();
}

bool convolution_is_original(const py::object& dataset) {
  const Originals& o = originals();
  const py::object method = dataset.attr("_fft_convolve_truncate");
  return PyMethod_Check(method.ptr()) && PyMethod_GET_FUNCTION(method.ptr()) == o.truncate_method.ptr() &&
         PyMethod_GET_SELF(method.ptr()) == dataset.ptr() &&
         blendkit_attr("_fft_convolve").ptr() == o.fft_convolve.ptr();
}

}  // namespace speech::mixture
