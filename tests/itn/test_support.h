// Shared helpers of the ITN tests: a scratch folder and running a program
// with its standard streams captured.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace itn_test {

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `content` byte for byte and returns the file's path.
  std::string Write(const std::string& name, const std::string& content) const;

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Runs `argv` with `env` added to the environment. The program started is
// `program`, or argv[0] when `program` is empty.
RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env = {},
                     const std::string& program = "");

std::string ReadFile(const std::string& path);
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace itn_test
