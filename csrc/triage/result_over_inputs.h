#pragma once
// Starting the result file empties it: a result path that leads to one of
// the run's inputs (the scp list, a checkpoint, a listed wav), under any
// spelling or link, would lose that input. And a result path that is a file
// the run itself writes or removes in an utterance folder (its log, a
// speaker stream) would lose the results. Either run is refused before the
// result file is opened, naming the other file. Paths are file-system bytes.
#include <cstddef>
#include <string>

namespace speech::triage {

// Throws ValueError when `out_jsonl` is the scp list.
void refuse_result_over_list(const std::string& out_jsonl, const std::string& scp);

// The inputs of a run besides its list.
class RunInputs {
 public:
  virtual ~RunInputs() = default;
  virtual std::string detector_ckpt() const = 0;
  virtual std::string inference() const = 0;
  virtual size_t entry_count() const = 0;
  virtual std::string wav_path(size_t entry) const = 0;  // 0-based
  // Asked of the entry that is refused, for the message, and of every entry
  // while the result path may be a file of an utterance folder.
  virtual std::string utt_id(size_t entry) const = 0;
};

// Throws ValueError when `out_jsonl` is a checkpoint (detector first) or
// the wav of an entry (the first in list order).
void refuse_result_over_inputs(const std::string& out_jsonl, const RunInputs& inputs);

// Throws ValueError when `out_jsonl` is, or would be, a file that the run
// writes or removes in the folder of a listed id under `save_dir` (the
// first such entry in list order): its "log.txt", a speaker stream
// ("main_speaker_*.wav", "other_speaker_*.wav") or a temporary of one,
// under any spelling, through links and bind mounts, also before the
// folders exist. A result anywhere else, in `save_dir` itself included, is
// left alone.
void refuse_result_over_outputs(const std::string& out_jsonl, const std::string& save_dir, const RunInputs& inputs);

// Throws ValueError when a listed wav (the first in list order) is a file
// that the run writes or removes in a listed entry's folder under
// `save_dir`, as `refuse_result_over_outputs` names them: separating that
// entry would overwrite or remove the wav.
void refuse_folders_over_wavs(const std::string& save_dir, const RunInputs& inputs);

}  // namespace speech::triage
