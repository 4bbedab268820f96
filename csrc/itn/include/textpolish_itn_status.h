// Return codes of the textpolish ITN engine. Free of std::string, so both
// string layouts may include it.
#pragma once

namespace TextPolishItn {

enum PostItnStatus : int {
  kPostItnOk = 0,
  // Creation: the named rule file cannot be read or is not a rule FST.
  kPostItnBadTaggerRule1 = -1,
  kPostItnBadVerbalizerRule1 = -2,
  kPostItnBadTaggerRule2 = -3,
  kPostItnBadVerbalizerRule2 = -4,
  // Processing: the handle names no engine (a failed creation leaves such a
  // handle); the output holds the input unchanged.
  kPostItnNoEngine = -5,
  // Processing: the rules have no reading of the input; the output holds the
  // input unchanged.
  kPostItnUnparsed = -6,
  // Out of memory or a similar failure inside the engine.
  kPostItnInternalError = -7,
};

}  // namespace TextPolishItn
