#include <torch/extension.h>

#include "bindings/utility/metrics/call_arguments.h"
#include "bindings/utility/metrics/registration.h"
#include "metrics/sisdr.h"

namespace py = pybind11;

namespace speech {
namespace {

constexpr double kDefaultEps = 1e-8;

const Signature kCalculateSig{"Calculate_SISDR", {{"estimation"}, {"origin"}, {"eps", kDefaultEps}}};
const Signature kPairwiseSig{"Parwise_SISDR", {{"estimation"}, {"origin"}, {"eps", kDefaultEps}}};

constexpr const char* kCalculateDoc = R"(SI-SDR in dB of each estimated source against the reference of the same index.

Args:
    estimation: (batch, nsrc, nsample)
    origin: (batch, nsrc, nsample)

Returns:
    pair_sisdr: (batch, nsrc)
)";

constexpr const char* kPairwiseDoc = R"(SI-SDR in dB of every estimated source against every reference; [b, i, j] scores estimate j against reference i.

Args:
    estimation: (batch, nsrc, nsample)
    origin: (batch, nsrc, nsample)

Returns:
    pairwise_sisdr: (batch, nsrc, nsrc)
)";

// The shape checks are the module's assertions: off under `python -O`, read
// per call as the interpreter would.
bool assertions_enabled() {
  return py::module_::import("sys").attr("flags").attr("optimize").cast<long>() == 0;
}

struct SisdrArgs {
  at::Tensor estimation;
  at::Tensor origin;
  double eps;
};

SisdrArgs parse(const Signature& sig, const py::args& args, const py::kwargs& kwargs) {
  const std::vector<py::object> bound = bind_call(sig, args, kwargs);
  return {tensor_arg(sig, bound[0], "estimation"), tensor_arg(sig, bound[1], "origin"), pyutil::float_value(bound[2])};
}

at::Tensor calculate(const py::args& args, const py::kwargs& kwargs) {
  const SisdrArgs a = parse(kCalculateSig, args, kwargs);
  py::gil_scoped_release no_gil;
  return metrics::calculate_sisdr(a.estimation, a.origin, a.eps);
}

at::Tensor pairwise(const py::args& args, const py::kwargs& kwargs) {
  const SisdrArgs a = parse(kPairwiseSig, args, kwargs);
  const bool check_shapes = assertions_enabled();
  py::gil_scoped_release no_gil;
  return metrics::pairwise_sisdr(a.estimation, a.origin, a.eps, check_shapes);
}

}  // namespace

void bind_sisdr(py::module_& m) {
  m.def("Calculate_SISDR", &calculate, py::doc(kCalculateSig.signed_doc(kCalculateDoc).c_str()));
  m.def("Parwise_SISDR", &pairwise, py::doc(kPairwiseSig.signed_doc(kPairwiseDoc).c_str()));
}

}  // namespace speech
