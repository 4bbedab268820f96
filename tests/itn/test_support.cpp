#include "test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace itn_test {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     const std::string& program, const std::string& stdout_path) {
  const ScratchFolder capture;
  const std::string out_path = stdout_path.empty() ? capture.at("out") : stdout_path;
  const std::string err_path = capture.at("err");

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                   O_WRONLY | O_CREAT | O_TRUNC, 0600);

  std::vector<std::string> environment(env);
  for (char** entry = environ; *entry != nullptr; ++entry) environment.emplace_back(*entry);
  const auto pointers = [](std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
  };
  std::vector<std::string> args(argv);
  std::vector<char*> arg_ptrs = pointers(args);
  std::vector<char*> env_ptrs = pointers(environment);

  const std::string& path = program.empty() ? argv.at(0) : program;
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, path.c_str(), &actions, nullptr, arg_ptrs.data(), env_ptrs.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + path);

  int wait_status = 0;
  if (waitpid(pid, &wait_status, 0) != pid) throw std::runtime_error("waitpid failed");
  RunResult result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  if (stdout_path.empty()) result.out = ReadFile(out_path);
  result.err = ReadFile(err_path);
  return result;
}

}  // namespace itn_test
