#pragma once
// Starting the result file empties it: a result path that leads to one of
// the run's inputs (the scp list, a checkpoint, a listed wav), under any
// spelling or link, would lose that input. Such a run is refused before the
// result file is opened, naming the input. Paths are file-system bytes.
#include <cstddef>
#include <string>

namespace speech::triage {

// Throws ValueError when `out_jsonl` is the scp list.
void refuse_result_over_list(const std::string& out_jsonl, const std::string& scp);

// The inputs of a run besides its list, each asked for only while the
// result path leads to an existing file (as it rarely does).
class RunInputs {
 public:
  virtual ~RunInputs() = default;
  virtual std::string detector_ckpt() const = 0;
  virtual std::string inference() const = 0;
  virtual size_t entry_count() const = 0;
  virtual std::string wav_path(size_t entry) const = 0;  // 0-based
  // Asked only of the entry that is refused, for the message.
  virtual std::string utt_id(size_t entry) const = 0;
};

// Throws ValueError when `out_jsonl` is a checkpoint (detector first) or
// the wav of an entry (the first in list order).
void refuse_result_over_inputs(const std::string& out_jsonl, const RunInputs& inputs);

}  // namespace speech::triage
