#pragma once
// The acceptor of one label sequence: the input text of the engine, and the
// literal strings of the rule grammars.
#include <fst/fstlib.h>

#include <vector>

#include "itn_labels.h"

namespace TextPolishItn {

inline fst::StdVectorFst LinearAcceptor(const std::vector<ItnLabel>& labels) {
  using fst::StdArc;
  fst::StdVectorFst acceptor;
  auto state = acceptor.AddState();
  acceptor.SetStart(state);
  for (const ItnLabel label : labels) {
    const auto next = acceptor.AddState();
    acceptor.AddArc(state, StdArc(label, label, StdArc::Weight::One(), next));
    state = next;
  }
  acceptor.SetFinal(state, StdArc::Weight::One());
  return acceptor;
}

}  // namespace TextPolishItn
