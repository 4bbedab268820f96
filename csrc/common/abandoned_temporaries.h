#pragma once
// Temporaries that a killed write left beside a result (sibling_temporary.h).
// A live writer holds an exclusive flock on its temporary; one that nobody
// holds belongs to a write that can never finish.
#include <string>

namespace speech::common {

// Removes from the target's folder every regular file named as a temporary
// of exactly this target (temporary_result_name) that no writer holds: each
// one this process can lock at once, and whose name still leads to the
// locked file. Links are never followed; files of other results, look-alike
// names and held temporaries stay. Best effort: what cannot be read, opened
// or removed is left, since the result being written does not depend on it.
void remove_abandoned_temporaries(const std::string& target);

}  // namespace speech::common
