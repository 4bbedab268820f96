#include "bindings/utility/blendkit/registration.h"

namespace speech {

void bind_validation_sets(pybind11::module_& m) { (void)m; }

}  // namespace speech
