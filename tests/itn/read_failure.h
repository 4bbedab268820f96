// A read error inside an input file, raised by the LD_PRELOAD shim that the
// build makes (ITN_READ_FAILURE_SHIM, from the build), and the error line
// that itn_runner and itn_bench give for it.
#pragma once

#include <string>
#include <vector>

namespace itn_test {

// The environment in which the first `bytes` bytes of `input` are read and
// every later read of it fails with EIO.
inline std::vector<std::string> ReadFailsAfter(const std::string& input, int bytes) {
  return {"LD_PRELOAD=" ITN_READ_FAILURE_SHIM, "ITN_READ_FAIL_PATH=" + input,
          "ITN_READ_FAIL_AFTER=" + std::to_string(bytes)};
}

inline std::string ReadFailed(const std::string& input) {
  return "错误: 无法读取文件 " + input + ": Input/output error\n";
}

}  // namespace itn_test
