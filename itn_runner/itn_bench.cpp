// itn_bench <tagger_rule1> <verbalizer_rule1> <tagger_rule2> <verbalizer_rule2>
//           <input_file> <workers> [unit_symbol_type]
//
// Times the engine calls of an itn_runner run with any number of workers:
// the non-empty lines are dealt out the way itn_runner deals them, the
// workers share one engine, and the time from starting the first worker to
// joining the last is printed as "lines=N workers=W seconds=S". Rules that
// do not load, and an input that itn_runner refuses (missing, a folder), end
// it with status 1; the engine is destroyed on every way out.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "engine_owner.h"
#include "input_lines.h"
#include "textpolish_itn.h"

namespace {

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
  const int workers = std::atoi(argv[6]);
  const int unit_symbol_type = argc > 7 ? std::atoi(argv[7]) : 1;
  if (workers < 1) {
    std::cerr << "workers must be at least 1\n";
    return 1;
  }
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
  std::ifstream input;
  if (!OpenInput(argv[5], input)) {
    std::cerr << "cannot open " << argv[5] << "\n";
    return 1;
  }
  const std::vector<std::string> lines = NonEmptyLines(input);

  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back(Work, engine.get(), unit_symbol_type, std::cref(lines), w, workers);
  }
  for (std::thread& thread : threads) thread.join();
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;

  std::cout << "lines=" << lines.size() << " workers=" << workers << " seconds=" << seconds.count()
            << std::endl;
  return 0;
}
