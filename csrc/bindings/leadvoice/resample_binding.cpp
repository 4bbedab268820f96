#include "bindings/leadvoice/registration.h"
#include "pyutil/resample_binding.h"

namespace speech {

void bind_resample(pybind11::module_& m) { define_resample(m); }

}  // namespace speech
