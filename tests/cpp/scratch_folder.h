#pragma once
// A fresh folder of its own for each test, removed with everything in it
// when the test ends, so tests that run in parallel never meet.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace speech {

class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "speech_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::system_error(errno, std::generic_category(), "cannot make a scratch folder " + pattern);
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    // A destructor must not throw; a test fixture removes its folder in
    // TearDown, where a failure is reported.
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string at(const std::string& name) const { return (path_ / name).string(); }

  // Writes `content` byte for byte and returns the file's path.
  std::string write(const std::string& name, const std::string& content) const {
    const std::string file = at(name);
    std::ofstream out(file, std::ios::binary);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + file);
    return file;
  }

 private:
  std::filesystem::path path_;
};

class ScratchFolderTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string at(const std::string& name) const { return scratch_.at(name); }

  const ScratchFolder scratch_;
  const std::filesystem::path dir_ = scratch_.path();
};

}  // namespace speech
