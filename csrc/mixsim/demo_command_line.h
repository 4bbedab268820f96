#pragma once
// The command line of the training-stream demonstration.
#include "common/command_line_options.h"

namespace speech::mixsim {

const common::CommandLine& demo_command_line();

}  // namespace speech::mixsim
