#include "bindings/utility/blendkit/registration.h"

namespace speech {

void bind_blendkit_imports(pybind11::module_& m) { (void)m; }

}  // namespace speech
