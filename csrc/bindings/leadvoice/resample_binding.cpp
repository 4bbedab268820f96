#include "bindings/leadvoice/registration.h"

namespace speech {

void bind_resample(pybind11::module_& m) { (void)m; }

}  // namespace speech
