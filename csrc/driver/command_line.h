#pragma once
// The leadvoice driver's command line: its 20 long options.
#include "common/command_line_options.h"

namespace speech::driver {

extern const char* const kDefaultSaveDir;
extern const char* const kDefaultCheckpoint;

const common::CommandLine& driver_command_line();

}  // namespace speech::driver
