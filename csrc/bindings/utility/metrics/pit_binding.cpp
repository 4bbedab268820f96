#include <torch/extension.h>

#include "bindings/utility/metrics/call_arguments.h"
#include "bindings/utility/metrics/registration.h"
#include "metrics/pit.h"

namespace py = pybind11;

namespace speech {
namespace {

const Signature kPitSig{"PIT", {{"pairwise_sisdr"}, {"return_indices", false}}};

constexpr const char* kPitDoc = R"(Permutation-invariant loss: minus the best mean SI-SDR over all pairings of estimates with references.

Args:
    pairwise_sisdr: (batch, nsrc, nsrc)
    return_indices: boolean

Returns:
    min_loss: (batch,)
    batch_indices: (batch, nsrc)
)";

// Any object the interpreter finds true asks for the pairing.
bool truth_of(const py::object& obj) {
  const int truth = PyObject_IsTrue(obj.ptr());
  if (truth < 0) throw py::error_already_set();
  return truth != 0;
}

py::object pit(const py::args& args, const py::kwargs& kwargs) {
  const std::vector<py::object> bound = bind_call(kPitSig, args, kwargs);
  const at::Tensor pairwise_sisdr = tensor_arg(kPitSig, bound[0], "pairwise_sisdr");
  metrics::PitResult result;
  {
    py::gil_scoped_release no_gil;
    result = metrics::pit(pairwise_sisdr);
  }
  // Tested only once the loss is made, as a plain conditional return would.
  if (truth_of(bound[1])) return py::make_tuple(result.min_loss, result.batch_indices);
  return py::cast(result.min_loss);
}

}  // namespace

void bind_pit(py::module_& m) { m.def("PIT", &pit, py::doc(kPitSig.signed_doc(kPitDoc).c_str())); }

}  // namespace speech
