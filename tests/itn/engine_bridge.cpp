#include "engine_bridge.h"

#include <string>

#include "textpolish_itn.h"

namespace itn_test {

EngineHandle::EngineHandle(std::string_view tagger1, std::string_view verbalizer1,
                           std::string_view tagger2, std::string_view verbalizer2) {
  TextPolishItn::PostItnConfig config;
  config.number_rule1_str.assign(tagger1.data(), tagger1.size());
  config.number_verbalizer_str.assign(verbalizer1.data(), verbalizer1.size());
  config.symbol_rule2_str.assign(tagger2.data(), tagger2.size());
  config.symbol_verbalizer_str.assign(verbalizer2.data(), verbalizer2.size());
  create_code_ = TextPolishItn::PostItn_CreateEngine(handle_, config, std::string());
}

EngineHandle::~EngineHandle() { TextPolishItn::PostItn_DestroyEngine(handle_); }

Normalized EngineHandle::Process(std::string_view input, bool convert_number,
                                 int unit_symbol_type) const {
  TextPolishItn::PostItnConfig config;
  config.convert_number = convert_number;
  config.unit_symbol_type = unit_symbol_type;
  std::string output;
  const int code = TextPolishItn::PostItn_Process(handle_, config, std::string(input), output,
                                                  std::string());
  return {code, std::vector<char>(output.begin(), output.end())};
}

}  // namespace itn_test
