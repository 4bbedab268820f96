// The input text file of itn_runner and itn_bench: what may be opened as one,
// and the lines that are handed to the engine.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <istream>
#include <string>
#include <vector>

// A folder opens as a stream that reads nothing, which would pass for an
// empty input; it is refused as unreadable instead.
inline bool OpenInput(const std::string& path, std::ifstream& input) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
  input.open(path);
  return input.is_open();
}

// The lines split at the newline character only (a carriage return stays in
// its line), empty ones dropped; a read error ends the input like its end.
inline std::vector<std::string> NonEmptyLines(std::istream& input) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(input, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}
