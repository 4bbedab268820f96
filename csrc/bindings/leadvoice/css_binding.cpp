// The separation side of leadvoice: CSSProcessor, the SI-SDR measures, the
// checkpoint loader and ensure_dir.
#include <pybind11/pybind11.h>
#include <torch/csrc/Exceptions.h>

#include "bindings/leadvoice/css_parts.h"
#include "bindings/leadvoice/registration.h"

namespace py = pybind11;

namespace speech {

void bind_css(py::module_& m) {
  // Tensor-library errors reach the caller as the exceptions the tensor
  // library itself raises (IndexError, RuntimeError, ...).
  py::register_local_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const c10::Error&) {
      torch::translate_exception_to_python(std::current_exception());
    }
  });
  css_binding::bind_measures(m);
  css_binding::bind_checkpoint(m);
  pyutil::PlainClass cls(m, "CSSProcessor", "连续语音分离处理器");
  css_binding::define_processor(cls);
  css_binding::define_stitching(cls);
}

}  // namespace speech
