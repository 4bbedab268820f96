// parse_args: the driver's options, parsed as both drivers parse theirs.
#include <pybind11/pybind11.h>

#include "bindings/driver_steps/command_line.h"
#include "bindings/leadvoice/driver_parts.h"
#include "driver/command_line.h"
#include "pyutil/text_signature.h"

namespace py = pybind11;

namespace speech {

void define_command_line(py::module_& m) {
  pyutil::def_function(m, "parse_args",
                       [] { return parse_driver_command_line(kLeadvoicePackage, driver::driver_command_line()); });
}

}  // namespace speech
