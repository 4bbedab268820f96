#pragma once
// Temporaries that a killed write left beside a result (sibling_temporary.h).
// A live writer holds an exclusive flock on its temporary; one that nobody
// holds belongs to a write that can never finish.
#include <functional>
#include <string>
#include <string_view>

namespace speech::common {

// Removes from the target's folder every regular file named as a temporary
// of exactly this target (temporary_result_name) that no writer holds: each
// one this process can lock at once, and whose name still leads to the
// locked file. Links are never followed; files of other results, look-alike
// names and held temporaries stay. Best effort: what cannot be read, opened
// or removed is left, since the result being written does not depend on it.
void remove_abandoned_temporaries(const std::string& target);

// The same in `folder` for every result name that `is_result` accepts: for
// a clean-up that removes a kind of result, whatever its number.
void remove_abandoned_temporaries(const std::string& folder,
                                  const std::function<bool(std::string_view)>& is_result);

}  // namespace speech::common
