// Shared helpers of the ITN tests: the tests' scratch folder and running a
// program with its standard streams captured.
#pragma once

#include <string>
#include <vector>

#include "scratch_folder.h"

namespace itn_test {

using speech::ScratchFolder;

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs `argv` with `env` added to the environment. The program started is
// `program`, or argv[0] when `program` is empty. Standard output goes to
// `stdout_path` when one is given (and `out` stays empty), else into `out`.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     const std::string& program = "", const std::string& stdout_path = "");

std::string ReadFile(const std::string& path);
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace itn_test
