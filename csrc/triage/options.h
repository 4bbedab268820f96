#pragma once
// The pipeline's command line: its 19 long options.
#include "common/command_line_options.h"

namespace speech::triage {

const common::CommandLine& triage_command_line();

}  // namespace speech::triage
