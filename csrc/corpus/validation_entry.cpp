#include "corpus/validation_entry.h"

#include "common/os_path.h"

namespace speech::corpus {

EntryProblem entry_problem(std::string_view entry, int depth) {
  if (!entry.empty() && entry.front() == '/') return EntryProblem::kAbsolute;
  for (const std::string_view part : common::path_components(entry)) {
    if (part.empty() || part == ".") continue;
    depth += part == ".." ? -1 : 1;
    if (depth < 0) return EntryProblem::kClimbsOut;
  }
  return EntryProblem::kNone;
}

const char* entry_problem_reason(EntryProblem problem) {
  switch (problem) {
    case EntryProblem::kAbsolute:
      return "is an absolute path; entries must name files below the set's folders";
    case EntryProblem::kClimbsOut:
      return "climbs out of the validation root with '..'";
    case EntryProblem::kNone:
      break;
  }
  return "";
}

}  // namespace speech::corpus
