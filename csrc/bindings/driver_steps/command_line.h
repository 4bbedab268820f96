#pragma once
// parse_args of both drivers: the core's option table built with the
// package's argparse, then every real and integer value that no run can work
// with refused as argparse's own usage error (usage and message on standard
// error, exit status 2), before anything else happens.
#include <pybind11/pybind11.h>

#include "common/command_line_options.h"

namespace speech {

// `package`: the driver's package, whose `argparse` is used at call time.
pybind11::object parse_driver_command_line(const char* package, const common::CommandLine& command_line);

}  // namespace speech
