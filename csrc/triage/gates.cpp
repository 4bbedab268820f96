#include "triage/gates.h"

#include <cmath>
#include <utility>

#include "common/file_kind.h"
#include "common/number_format.h"
#include "common/os_path.h"
#include "triage/messages.h"
#include "triage/utterance_folder.h"

namespace speech::triage {
namespace {

Verdict failed(bool rated, std::string line, std::string error) {
  Verdict verdict;
  verdict.rated = rated;
  verdict.multi_spks = rated;
  verdict.line = std::move(line);
  verdict.error = std::move(error);
  return verdict;
}

// Every failure after the rate gate belongs to a multi-speaker entry.
Verdict multi_failure(std::string line, std::string error) { return failed(true, std::move(line), std::move(error)); }

}  // namespace

std::optional<Verdict> missing_wav(const std::string& wav_path) {
  if (common::is_regular_file(wav_path)) return std::nullopt;
  return failed(false, wav_missing_line(wav_path), kWavNotFoundError);
}

Verdict load_failure(const std::string& text) {
  return failed(false, load_failed_line(text), load_failed_error(text));
}

std::optional<Verdict> detection_failure(const std::optional<std::string>& failure, double rate) {
  if (!failure && std::isfinite(rate)) return std::nullopt;
  const std::string text = failure ? *failure : non_finite_rate_text(common::format_repr(rate));
  return failed(false, detector_failed_line(text), detector_failed_error(text));
}

std::optional<Verdict> single_speaker(double rate, const GateSettings& settings) {
  if (!(rate < settings.threshold)) return std::nullopt;
  Verdict verdict;
  verdict.outcome = Outcome::kSingle;
  verdict.rated = true;
  verdict.line = kSingleSpeakerLine;
  verdict.line_after_record = true;
  return verdict;
}

std::optional<Verdict> too_short(double duration, const GateSettings& settings) {
  if (duration > settings.hop) return std::nullopt;
  Verdict verdict = multi_failure(too_short_line(duration, settings.hop_text), too_short_error(duration, settings.hop_text));
  verdict.line_after_record = true;
  return verdict;
}

UtteranceFolders::UtteranceFolders(std::string save_dir) : save_dir_(std::move(save_dir)) {}

std::variant<std::string, Verdict> UtteranceFolders::admit(const std::string& utt_id) const {
  const std::string unsafe = unsafe_utt_id_reason(utt_id, name_max_of(save_dir_));
  if (!unsafe.empty()) return multi_failure(unsafe_id_line(unsafe), unsafe_id_error(unsafe));
  std::string folder = common::path_join(save_dir_, utt_id);
  if (const size_t* first = claims_.owner_of(folder)) {
    return multi_failure(folder_taken_line(*first, folder), folder_taken_error(*first, folder));
  }
  return folder;
}

void UtteranceFolders::claim(const std::string& folder, size_t idx) { claims_.claim(folder, idx); }

Verdict folder_failure(const std::string& text) {
  return multi_failure(folder_failed_line(text), folder_failed_error(text));
}

Verdict log_failure(const std::string& text) { return multi_failure(log_failed_line(text), log_failed_error(text)); }

Verdict separation_verdict(const std::optional<std::string>& failure, bool kept_stream) {
  if (failure) return multi_failure(separation_failed_line(*failure), separation_failed_error(*failure));
  if (!kept_stream) return multi_failure(separation_failed_line(kNoStreamKeptText), separation_failed_error(kNoStreamKeptText));
  Verdict verdict;
  verdict.outcome = Outcome::kMulti;
  verdict.rated = true;
  verdict.multi_spks = true;
  return verdict;
}

}  // namespace speech::triage
