// itn_grmc GRAMMAR NAME=OUT.fst...: compiles the named exports of a rule
// grammar into binary FST files.
#include <fst/fstlib.h>

#include <iostream>
#include <string>

#include "grammar_builder.h"
#include "grammar_parser.h"

int main(int argc, char** argv) {
  using namespace TextPolishItn::grammar;
  if (argc < 3) {
    std::cerr << "usage: " << argv[0] << " GRAMMAR NAME=OUT.fst...\n";
    return 2;
  }
  try {
    const GrammarBuilder builder(ParseGrammarFile(argv[1]));
    for (int i = 2; i < argc; ++i) {
      const std::string request = argv[i];
      const auto equals = request.find('=');
      if (equals == std::string::npos) throw GrammarError("expected NAME=OUT.fst, got " + request);
      const fst::StdVectorFst compiled = builder.Export(request.substr(0, equals));
      const std::string out = request.substr(equals + 1);
      if (!compiled.Write(out)) throw GrammarError("cannot write " + out);
    }
  } catch (const GrammarError& error) {
    std::cerr << argv[0] << ": " << error.what() << "\n";
    return 1;
  }
  return 0;
}
