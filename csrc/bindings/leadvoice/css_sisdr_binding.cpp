// calculate_sisdr and Calculate_Scale: tensor arguments only, no conversion.
#include <pybind11/pybind11.h>
#include <torch/csrc/autograd/python_variable.h>

#include "bindings/leadvoice/css_parts.h"
#include "common/errors.h"
#include "css/sisdr.h"
#include "pyutil/py_print.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech::css_binding {
namespace {

at::Tensor tensor_argument(const char* function, const char* name, const py::handle& value) {
  if (!THPVariable_Check(value.ptr())) {
    throw common::TypeError(std::string(function) + "(): argument '" + name + "' must be Tensor, not " +
                            pyutil::type_name(value));
  }
  return THPVariable_Unpack(value.ptr());
}

double calculate_sisdr_py(const py::object& estimation, const py::object& reference, double eps) {
  return css::calculate_sisdr(tensor_argument("calculate_sisdr", "estimation", estimation),
                              tensor_argument("calculate_sisdr", "reference", reference), eps);
}

at::Tensor calculate_scale_py(const py::object& estimation, const py::object& origin, double eps) {
  return css::calculate_scale(tensor_argument("Calculate_Scale", "estimation", estimation),
                              tensor_argument("Calculate_Scale", "origin", origin), eps);
}

}  // namespace

void bind_measures(py::module_& m) {
  pyutil::def_function(m, "calculate_sisdr", &calculate_sisdr_py, py::arg("estimation"), py::arg("reference"),
                       py::arg("eps") = css::kDefaultEps, "计算SI-SDR");
  pyutil::def_function(m, "Calculate_Scale", &calculate_scale_py, py::arg("estimation"), py::arg("origin"),
                       py::arg("eps") = css::kDefaultEps, "计算缩放因子");
}

}  // namespace speech::css_binding
