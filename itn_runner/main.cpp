// itn_runner: normalises the lines of a text file through the textpolish ITN
// engine on eight worker threads sharing one engine, and prints each result
// with the time its engine call took.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "console_output.h"
#include "engine_owner.h"
#include "input_lines.h"
#include "worker_threads.h"
#include "textpolish_itn.h"

using TextPolishItn::PostItn_CreateEngine;
using TextPolishItn::PostItn_HANDLE;
using TextPolishItn::PostItn_Process;
using TextPolishItn::PostItnConfig;

namespace {

// On exactly when the text, read as a base-10 integer the way strtol reads
// it and narrowed to int, is not 0.
bool ReadSwitch(const char* text) {
  return static_cast<int>(std::strtol(text, nullptr, 10)) != 0;
}

// Creation codes that name the rule file which failed, in argument order.
const char* FailedRuleFile(int ret, char** argv) {
  return ret <= -1 && ret >= -4 ? argv[-ret] : nullptr;
}

}  // namespace

void print_usage(const char* prog_name) {
  std::cerr << "用法: " << prog_name << " <tagger_rule1.fst> <verbalizer_rule1.fst>"
            << " <tagger_rule2.fst> <verbalizer_rule2.fst>"
            << " <input_file>"
            << " [convert_number] [unit_symbol_type]" << std::endl;
  std::cerr << "  input_file        : 输入文本文件路径" << std::endl;
  std::cerr << "  convert_number    : 是否转换数字 (1=是, 0=否, 默认1)" << std::endl;
  std::cerr << "  unit_symbol_type  : 单位符号类型 (1=启用rule1, 0=使用rule2, 默认1)" << std::endl;
  std::cerr << "从指定文件逐行读取文本，输出归一化结果。" << std::endl;
}

void ThreadProcess(PostItn_HANDLE process, bool convert_number, bool unit_symbol_type,
                   const std::vector<std::string>& vec_in_str,
                   std::vector<std::string>& vec_log_print) {
  PostItnConfig config;
  config.convert_number = convert_number;
  config.unit_symbol_type = unit_symbol_type ? 1 : 0;
  config.debug_level = 0;

  vec_log_print.clear();
  for (const std::string& line : vec_in_str) {
    const std::string local_str = line;
    // A monotonic clock: a wall-clock step during the call must not show up
    // as a negative time.
    const auto start = std::chrono::steady_clock::now();
    std::string res;
    PostItn_Process(process, config, local_str, res, std::string());
    const auto end = std::chrono::steady_clock::now();
    const long long duration =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - start).count();
    const std::string local_log =
        local_str + " --> " + res + ", time_cost=" + std::to_string(duration) + "ms";
    vec_log_print.push_back(local_log);
  }
}

int main(int argc, char** argv) {
  if (argc < 6) {
    print_usage(argv[0]);
    return 1;
  }
  const std::string tagger_rule1 = argv[1];
  const std::string verbalizer_rule1 = argv[2];
  const std::string tagger_rule2 = argv[3];
  const std::string verbalizer_rule2 = argv[4];
  const std::string input_file = argv[5];

  bool convert_number = true;
  bool unit_symbol_type = true;
  if (argc > 6) {
    convert_number = ReadSwitch(argv[6]);
    if (argc > 7) unit_symbol_type = ReadSwitch(argv[7]);
  }

  if (!PrintLine("正在加载FST模型...")) return OutputFailed();
  EngineOwner engine;
  PostItnConfig config;
  config.convert_number = convert_number;
  config.number_rule1_str = tagger_rule1;
  config.number_verbalizer_str = verbalizer_rule1;
  config.unit_symbol_type = unit_symbol_type ? 1 : 0;
  config.symbol_rule2_str = tagger_rule2;
  config.symbol_verbalizer_str = verbalizer_rule2;
  const int ret = PostItn_CreateEngine(engine.slot(), config, std::string());
  if (!PrintLine("模型加载完成。ret=" + std::to_string(ret))) return OutputFailed();
  // Going on without rules would print every line as if it had been
  // normalised; a failed load ends the run instead.
  if (ret != TextPolishItn::kPostItnOk) {
    if (const char* rule_file = FailedRuleFile(ret, argv)) {
      std::cerr << "错误: 无法加载FST模型 " << rule_file << std::endl;
    } else {
      std::cerr << "错误: FST模型加载失败 ret=" << ret << std::endl;
    }
    return 1;
  }

  InputFile input;
  if (!input.Open(input_file)) {
    std::cerr << "错误: 无法打开文件 " << input_file << std::endl;
    return 1;
  }
  // A read that fails midway ends the run with status 1, after the lines
  // read before it have been processed and printed.
  std::vector<std::string> vec_in_str;
  const bool read_whole = input.ReadNonEmptyLines(&vec_in_str);

  const int n_thread_num = 8;
  std::vector<std::vector<std::string>> vec_vec_in_str(n_thread_num);
  std::vector<std::vector<std::string>> vec_vec_log_str(n_thread_num);
  for (size_t k = 0; k < vec_in_str.size(); ++k) {
    vec_vec_in_str[k % n_thread_num].push_back(vec_in_str[k]);
  }

  const std::error_code failure = RunWorkers(n_thread_num, [&](int b) {
    return std::thread(ThreadProcess, engine.get(), convert_number, unit_symbol_type,
                       std::cref(vec_vec_in_str[b]), std::ref(vec_vec_log_str[b]));
  });
  if (failure) return WorkersFailed(failure);

  for (const auto& bucket : vec_vec_log_str) {
    for (const std::string& log_line : bucket) {
      if (!PrintLine(log_line)) return OutputFailed();
    }
  }
  if (!read_whole) {
    PrintReadError(input_file, input.read_error());
    return 1;
  }
  return 0;
}
