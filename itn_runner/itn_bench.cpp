// itn_bench <tagger_rule1> <verbalizer_rule1> <tagger_rule2> <verbalizer_rule2>
//           <input_file> <workers> [unit_symbol_type]
//
// Times the engine calls of an itn_runner run with any number of workers:
// the non-empty lines are dealt out the way itn_runner deals them, the
// workers share one engine, and the time from starting the first worker to
// joining the last is printed as "lines=N workers=W seconds=S". Rules that
// do not load, an input that itn_runner refuses (missing, a folder, a read
// that fails midway), a worker count that is not a whole decimal number
// from 1 to kMaxWorkers, a worker that cannot start and a result line that
// cannot be written end it with status 1 and a message on standard error;
// the engine is destroyed on every way out.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console_output.h"
#include "engine_owner.h"
#include "input_lines.h"
#include "textpolish_itn.h"
#include "worker_threads.h"

namespace {

// Far beyond the cores of any machine the bench measures, and few enough
// threads for any machine to start.
constexpr int kMaxWorkers = 1024;

// The worker count: digits only, from 1 to kMaxWorkers; false for anything
// else (a sign, blanks, an exponent, trailing text, an empty text).
bool ReadWorkers(const std::string& text, int* workers) {
  if (text.empty()) return false;
  int value = 0;  // held at kMaxWorkers + 1 once beyond, so it cannot overflow
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = std::min(value * 10 + (c - '0'), kMaxWorkers + 1);
  }
  if (value < 1 || value > kMaxWorkers) return false;
  *workers = value;
  return true;
}

void Work(TextPolishItn::PostItn_HANDLE engine, int unit_symbol_type,
          const std::vector<std::string>& lines, size_t first, size_t step) {
  TextPolishItn::PostItnConfig config;
  config.unit_symbol_type = unit_symbol_type;
  for (size_t k = first; k < lines.size(); k += step) {
    std::string result;
    TextPolishItn::PostItn_Process(engine, config, lines[k], result, std::string());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::cerr << "usage: " << argv[0] << " <tagger_rule1> <verbalizer_rule1> <tagger_rule2>"
              << " <verbalizer_rule2> <input_file> <workers> [unit_symbol_type]\n";
    return 1;
  }
  int workers = 0;
  if (!ReadWorkers(argv[6], &workers)) {
    std::cerr << "错误: 工作线程数须为 1 到 " << kMaxWorkers << " 的十进制整数: " << argv[6] << std::endl;
    return 1;
  }
  const int unit_symbol_type = argc > 7 ? std::atoi(argv[7]) : 1;
  TextPolishItn::PostItnConfig config;
  config.number_rule1_str = argv[1];
  config.number_verbalizer_str = argv[2];
  config.symbol_rule2_str = argv[3];
  config.symbol_verbalizer_str = argv[4];
  EngineOwner engine;
  const int ret = TextPolishItn::PostItn_CreateEngine(engine.slot(), config, std::string());
  if (ret != TextPolishItn::kPostItnOk) {
    std::cerr << "engine creation failed: " << ret << "\n";
    return 1;
  }
  InputFile input;
  if (!input.Open(argv[5])) {
    std::cerr << "cannot open " << argv[5] << "\n";
    return 1;
  }
  // A time over part of the input would pass for the whole; a read that
  // fails midway ends the bench before any timing.
  std::vector<std::string> lines;
  if (!input.ReadNonEmptyLines(&lines)) {
    PrintReadError(argv[5], input.read_error());
    return 1;
  }

  const auto start = std::chrono::steady_clock::now();
  const std::error_code failure = RunWorkers(workers, [&](int w) {
    return std::thread(Work, engine.get(), unit_symbol_type, std::cref(lines), w, workers);
  });
  if (failure) return WorkersFailed(failure);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

  std::ostringstream result;
  result << "lines=" << lines.size() << " workers=" << workers << " seconds=" << seconds.count();
  if (!PrintLine(result.str())) return OutputFailed();
  return 0;
}
