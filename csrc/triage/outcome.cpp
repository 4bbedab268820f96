#include "triage/outcome.h"

namespace speech::triage {

void RunCounts::add(Outcome outcome) {
  switch (outcome) {
    case Outcome::kSingle:
      ++single;
      break;
    case Outcome::kMulti:
      ++multi;
      break;
    case Outcome::kFailed:
      ++failed;
      break;
  }
}

}  // namespace speech::triage
