#pragma once
// Safety of a validation table's file-name entries: an entry names a file
// below the set's folders, so one that is absolute or climbs above the
// validation root with ".." would silently read some other file.
#include <string>
#include <string_view>

namespace speech::corpus {

enum class EntryProblem { kNone, kAbsolute, kClimbsOut };

// `entry` as joined below `depth` folders of the validation root (the set's
// folder and then mixture or a source folder: depth 2).
EntryProblem entry_problem(std::string_view entry, int depth);

// The reason, worded for an error message.
const char* entry_problem_reason(EntryProblem problem);

}  // namespace speech::corpus
