#include "bindings/driver_steps/device.h"

#include "driver/device_choice.h"
#include "pyutil/package_namespace.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech {

py::object choose_device(const char* package, const py::object& requested, const std::string& fallback_line) {
  const py::object torch = pyutil::package_attr(package, "torch");
  // CUDA is asked about only for a text that wants it.
  if (driver::names_cuda_device(pyutil::py_str(requested)) && py::bool_(torch.attr("cuda").attr("is_available")())) {
    return torch.attr("device")(requested);
  }
  pyutil::py_print(fallback_line);
  return torch.attr("device")("cpu");
}

}  // namespace speech
