// parse_args: the pipeline's options, parsed as both drivers parse theirs.
#include <pybind11/pybind11.h>

#include "bindings/driver_steps/command_line.h"
#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/registration.h"
#include "pyutil/text_signature.h"
#include "triage/options.h"

namespace py = pybind11;

namespace speech {

void define_parse_args(py::module_& m) {
  pyutil::def_function(m, "parse_args",
                       [] { return parse_driver_command_line(kTriagePackage, triage::triage_command_line()); });
}

}  // namespace speech
