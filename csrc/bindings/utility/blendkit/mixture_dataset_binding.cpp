#include "bindings/utility/blendkit/registration.h"

namespace speech {

void bind_mixture_dataset(pybind11::module_& m) { (void)m; }

}  // namespace speech
