#include "bindings/utility/blendkit/package_originals.h"

#include "bindings/utility/blendkit/package_lookup.h"
#include "pyutil/kept_original.h"

namespace py = pybind11;

namespace speech::mixture {
namespace {

struct Originals {
  pyutil::KeptOriginal load_audio;
  pyutil::KeptOriginal safe_sf_read;
  pyutil::KeptOriginal resample;
  pyutil::KeptOriginal truncate_method;
  pyutil::KeptOriginal fft_convolve;
};

Originals& originals() {
  static Originals kept;
  return kept;
}

}  // namespace

void remember_original_readers(const py::module_& package) {
  Originals& o = originals();
  o.load_audio.keep(package.attr("_load_audio"));
  o.safe_sf_read.keep(package.attr("_safe_sf_read"));
  o.resample.keep(package.attr("librosa").attr("resample"));
}

void remember_original_convolution(const py::object& dataset_class, const py::module_& package) {
  Originals& o = originals();
  o.truncate_method.keep(dataset_class.attr("_fft_convolve_truncate"));
  o.fft_convolve.keep(package.attr("_fft_convolve"));
}

bool readers_are_original() {
  const Originals& o = originals();
  return o.load_audio.is(blendkit_attr("_load_audio")) && o.safe_sf_read.is(blendkit_attr("_safe_sf_read")) &&
         o.resample.is(blendkit_attr("librosa").attr("resample"));
}

bool convolution_is_original(const py::object& dataset) {
  const Originals& o = originals();
  const py::object method = dataset.attr("_fft_convolve_truncate");
  return PyMethod_Check(method.ptr()) && o.truncate_method.is(PyMethod_GET_FUNCTION(method.ptr())) &&
         PyMethod_GET_SELF(method.ptr()) == dataset.ptr() && o.fft_convolve.is(blendkit_attr("_fft_convolve"));
}

}  // namespace speech::mixture
