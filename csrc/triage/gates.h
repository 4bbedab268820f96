#pragma once
// The row of gates that one scp entry passes on its way to separation: its
// wav exists, it loads, the detector rates it with a finite number, the
// rate reaches the threshold, it is longer than one hop, its id names a
// folder inside the save folder that no earlier entry of the run separated
// into, that folder and its log can be made, and the separation keeps a
// speaker stream. Each gate judges plain facts that the driver gathered and
// either lets the entry on (an empty result) or stops it with a verdict.
// Texts and paths are UTF-8 and file-system bytes.
#include <cstddef>
#include <optional>
#include <string>
#include <variant>

#include "driver/folder_claims.h"
#include "triage/outcome.h"

namespace speech::triage {

// How an entry ends: its console line, the end of its result line and the
// count it adds to.
struct Verdict {
  Outcome outcome = Outcome::kFailed;
  // Whether the detector had rated the entry: its record then holds the
  // rate already, and "multi_spks" follows it. Without a rate the record
  // gets "multi_spks" and a null rate together, "multi_spks" first.
  bool rated = false;
  bool multi_spks = false;
  std::string error;  // the record's "error"; empty: the record has none
  std::string line;   // empty: nothing is printed
  // The two outcomes of a rated entry that is not separated show their line
  // once the record is written; every other line comes first.
  bool line_after_record = false;
};

// Before a rate: the wav is not an existing regular file.
std::optional<Verdict> missing_wav(const std::string& wav_path);
// Before a rate: the loader raised; `text` is the exception's.
Verdict load_failure(const std::string& text);
// Before a rate: predict raised (`failure`, its exception's text), or the
// rate it gave is not a finite number, which no threshold and no JSON can
// take.
std::optional<Verdict> detection_failure(const std::optional<std::string>& failure, double rate);

// The run's settings that the rated gates compare with.
struct GateSettings {
  double threshold = 0.0;
  std::string threshold_text;  // as the interpreter writes the float
  double hop = 0.0;
  std::string hop_text;
};

// A rate below the threshold is one talker; a rate equal to it is not.
std::optional<Verdict> single_speaker(double rate, const GateSettings& settings);
// The processor needs more than one hop of audio.
std::optional<Verdict> too_short(double duration, const GateSettings& settings);

// The utterance folders of one run: each id names a folder inside the save
// folder, and a folder that an earlier entry separated into is refused.
class UtteranceFolders {
 public:
  explicit UtteranceFolders(std::string save_dir);

  // The entry's folder, or the verdict that refuses its id: one that leads
  // out of the save folder, that the file system cannot hold, or whose
  // folder an earlier entry claimed.
  std::variant<std::string, Verdict> admit(const std::string& utt_id) const;
  // Entry `idx` (1-based) has made the folder and its log.
  void claim(const std::string& folder, size_t idx);

 private:
  std::string save_dir_;
  driver::FolderClaims<size_t> claims_;
};

// The folder, or its log file, could not be made; `text` is the exception's.
Verdict folder_failure(const std::string& text);
Verdict log_failure(const std::string& text);

// The end of the separation phase: it raised (`failure`), it kept no stream,
// or the entry is separated.
Verdict separation_verdict(const std::optional<std::string>& failure, bool kept_stream);

}  // namespace speech::triage
