#pragma once
// Texts of the pipeline: console lines, result-line error texts, the start-up
// refusals. Numbers come in already rendered where the interpreter's own
// rendering (str of a float) is the one shown.
#include <cstddef>
#include <string>

#include "triage/outcome.h"

namespace speech::triage {

extern const char* const kCudaFallbackLine;
extern const char* const kEmptyScpLine;
extern const char* const kStage1Line;
extern const char* const kStage2Line;
extern const char* const kStage3Line;
extern const char* const kSingleSpeakerLine;
extern const char* const kNoMainChannelWarning;
extern const char* const kWavNotFoundError;

std::string scp_missing_error(const std::string& scp_path);
std::string scp_malformed_warning(long line_no, const std::string& stripped);
std::string scp_count_line(size_t entries, const std::string& scp_path);
std::string result_is_list_error(const std::string& out_jsonl, const std::string& scp_path);
// `option`: how the input is named on the command line (--detector_ckpt, or
// the scp entry of a wav); `what`: what truncating it would lose.
std::string result_is_input_error(const std::string& out_jsonl, const std::string& option, const std::string& what,
                                  const std::string& input_path);
std::string result_is_wav_error(const std::string& out_jsonl, size_t idx, const std::string& utt_id,
                                const std::string& wav_path);
// `output_path`: the utterance folder's file that the result path is.
std::string result_is_output_error(const std::string& out_jsonl, size_t idx, const std::string& utt_id,
                                   const std::string& output_path);
// The wav of entry `idx` is `output_path`, a file of entry `owner_idx`'s
// folder.
std::string wav_is_output_error(size_t idx, const std::string& utt_id, const std::string& wav_path, size_t owner_idx,
                                const std::string& owner_id, const std::string& output_path);
std::string result_file_locked_error(const std::string& out_jsonl);

std::string detector_ckpt_missing_error(const std::string& ckpt_path);
std::string detector_loaded_line(const std::string& ckpt_path);
// A long utterance that the detector could not score stretch by stretch.
std::string stretch_failure_line(const std::string& error);
std::string non_finite_rate_text(const std::string& rate);

std::string utterance_header(size_t idx, size_t total, const std::string& utt_id);
std::string wav_missing_line(const std::string& wav_path);
std::string load_failed_line(const std::string& text);
std::string detector_failed_line(const std::string& text);
std::string separation_failed_line(const std::string& text);
std::string unsafe_id_line(const std::string& reason);
std::string folder_taken_line(size_t first_idx, const std::string& folder);
std::string folder_failed_line(const std::string& text);
std::string log_failed_line(const std::string& text);
// `threshold`: str() of the option's float.
std::string rate_line(double rate, const std::string& threshold);
// `hop`: str() of the option's float.
std::string too_short_line(double duration, const std::string& hop);
std::string log_file_line(const std::string& log_path);
std::string audio_line(const std::string& wav_path, double duration, long sample_rate);

std::string load_failed_error(const std::string& text);
std::string detector_failed_error(const std::string& text);
std::string separation_failed_error(const std::string& text);
std::string too_short_error(double duration, const std::string& hop);
std::string unsafe_id_error(const std::string& reason);
std::string folder_taken_error(size_t first_idx, const std::string& folder);
std::string folder_failed_error(const std::string& text);
std::string log_failed_error(const std::string& text);
// A separation that ran through but kept no speaker stream has nothing to
// show for the utterance: a failure, in the separation's own words.
extern const char* const kNoStreamKeptText;

std::string separation_start_line(const std::string& utt_id, const std::string& wav_path, double duration);
std::string separation_done_line(size_t speakers);
std::string saved_main_line(const std::string& path);
std::string main_speaker_file(const std::string& gid);
std::string other_speaker_file(const std::string& gid);
std::string other_speaker_key(size_t number);

// The seven summary prints, each one element (the first starts with a line
// break).
struct SummaryLines {
  std::string lines[7];
};
SummaryLines summary_lines(const RunCounts& counts, const std::string& out_jsonl, const std::string& save_dir);

}  // namespace speech::triage
