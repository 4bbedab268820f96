#include "bindings/leadvoice/registration.h"

namespace speech {

void bind_driver(pybind11::module_& m) { (void)m; }

}  // namespace speech
