#include "bindings/utility/blendkit/registration.h"

namespace speech {

void bind_signal_functions(pybind11::module_& m) { (void)m; }

}  // namespace speech
