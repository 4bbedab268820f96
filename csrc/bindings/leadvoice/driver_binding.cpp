#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/registration.h"

namespace speech {

void bind_driver(pybind11::module_& m) {
  define_main_channel(m);
  define_logger(m);
  define_command_line(m);
  define_task_list(m);
  define_rms(m);
  define_main(m);
}

}  // namespace speech
