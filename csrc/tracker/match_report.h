#pragma once
// Console lines of cross-window speaker matching: the store and similarity
// report and one line per decision.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace speech::tracker {

// Why a signal's embedding is not trusted: poor separation and/or little speech.
struct Unreliability {
  std::optional<double> low_quality_db;      // set when poorly separated
  std::optional<double> short_speech_seconds;  // set when too short
};
std::string reasons_text(const Unreliability& why);

std::string store_line(int64_t num_global, const std::string& ids_text);
std::string skip_creation_line(int64_t k, double quality_db);
std::string matrix_header_line(int64_t num_curr, int64_t num_global);
std::string matrix_row_line(int64_t k, const std::vector<int64_t>& ids, const double* similarities,
                            std::optional<double> quality_db, std::optional<double> speech_seconds);
std::string match_line(int64_t row, int64_t id, double sim, bool updated);
std::string new_speaker_mark_line(int64_t row, int64_t id, double sim, double threshold);
std::string forced_match_line(int64_t row, int64_t id, const Unreliability& why, double sim, double low_threshold);
std::string skip_line(int64_t row, const Unreliability& why, double sim, double low_threshold);
std::string new_speaker_line(int64_t k, int64_t id);
std::string no_new_speaker_line(int64_t k, const Unreliability& why);

}  // namespace speech::tracker
