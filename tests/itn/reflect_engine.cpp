// A textpolish stand-in for testing the runner: it normalises nothing but
// writes back what reached it.
//
// PostItn_Process returns the switches of its record, how many rule paths the
// record carries, whether the output came in empty and the length of the
// extra string, then the input. Creation fails with -k when rule file k
// cannot be opened, or with the code N when the first rule file reads
// "fail:N". When ITN_REFLECT_TRACE names a file, creation and destruction
// append a line to it.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "textpolish_itn.h"

namespace TextPolishItn {
namespace {

struct ReflectEngine {
  std::atomic<long> processed{0};
};

void Trace(const std::string& line) {
  const char* path = std::getenv("ITN_REFLECT_TRACE");
  if (path == nullptr) return;
  std::ofstream out(path, std::ios::app);
  out << line << "\n";
}

std::string Switches(const PostItnConfig& config) {
  std::ostringstream text;
  text << "convert_number=" << config.convert_number
       << " unit_symbol_type=" << config.unit_symbol_type
       << " debug_level=" << config.debug_level;
  return text.str();
}

}  // namespace

int PostItn_CreateEngine(PostItn_HANDLE& handle, const PostItnConfig& config,
                         const std::string& reserved) {
  handle = nullptr;
  const std::string paths[] = {config.number_rule1_str, config.number_verbalizer_str,
                               config.symbol_rule2_str, config.symbol_verbalizer_str};
  Trace("create " + Switches(config) + " rules=" + paths[0] + "|" + paths[1] + "|" + paths[2] +
        "|" + paths[3] + " reserved=" + std::to_string(reserved.size()));
  for (int i = 0; i < 4; ++i) {
    std::ifstream in(paths[i]);
    if (!in) return -(i + 1);
    std::string first;
    std::getline(in, first);
    if (i == 0 && first.rfind("fail:", 0) == 0) return std::atoi(first.c_str() + 5);
  }
  handle = std::make_unique<ReflectEngine>().release();
  return 0;
}

int PostItn_Process(PostItn_HANDLE handle, const PostItnConfig& config, const std::string& input,
                    std::string& output, const std::string& reserved) {
  auto* engine = static_cast<ReflectEngine*>(handle);
  if (engine == nullptr) return kPostItnNoEngine;
  const int rules = !config.number_rule1_str.empty() + !config.number_verbalizer_str.empty() +
                    !config.symbol_rule2_str.empty() + !config.symbol_verbalizer_str.empty();
  const bool output_was_empty = output.empty();
  output = "[" + Switches(config) + " rules=" + std::to_string(rules) +
           " output_empty=" + std::to_string(output_was_empty) +
           " reserved=" + std::to_string(reserved.size()) + "]" + input;
  ++engine->processed;
  return 0;
}

int PostItn_DestroyEngine(PostItn_HANDLE handle) {
  std::unique_ptr<ReflectEngine> engine(static_cast<ReflectEngine*>(handle));
  Trace(engine ? "destroy processed=" + std::to_string(engine->processed.load()) : "destroy null");
  return 0;
}

}  // namespace TextPolishItn
