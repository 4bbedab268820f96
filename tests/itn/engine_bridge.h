// The real textpolish interface for tests built with the new std::string:
// only std::string_view and std::vector<char> cross between the layouts.
#pragma once

#include <string_view>
#include <vector>

namespace itn_test {

struct Normalized {
  int code;
  std::vector<char> text;
};

class EngineHandle {
 public:
  // Creates an engine through PostItn_CreateEngine.
  EngineHandle(std::string_view tagger1, std::string_view verbalizer1, std::string_view tagger2,
               std::string_view verbalizer2);
  ~EngineHandle();
  EngineHandle(const EngineHandle&) = delete;
  EngineHandle& operator=(const EngineHandle&) = delete;

  int create_code() const { return create_code_; }
  bool is_null() const { return handle_ == nullptr; }

  // PostItn_Process with a fresh record holding only the two switches.
  Normalized Process(std::string_view input, bool convert_number, int unit_symbol_type) const;

 private:
  void* handle_ = nullptr;
  int create_code_ = 0;
};

}  // namespace itn_test
