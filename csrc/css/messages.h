#pragma once
// Console lines of the separation processor. Numbers are rendered as the
// interpreter's format specs would; values printed in their default text
// form (the merge threshold, id lists) arrive already rendered.
#include <cstdint>
#include <string>
#include <vector>

namespace speech::css {

std::string segment_count_line(int64_t num_segments);
// Starts with a newline, so an empty line precedes every window's report.
std::string window_header_line(int64_t seg_idx, int64_t num_segments, double start_seconds, double end_seconds);

std::string nan_inf_warning_line(int64_t sig_idx);
std::string window_skip_line();

std::string merge_header_line(int64_t count, const std::string& threshold);
std::string merge_matrix_title_line();
// `similarities[j]` for j != row; the diagonal cell is printed as "  -  ".
std::string merge_matrix_row_line(int64_t row, const std::vector<double>& similarities);
std::string merge_attempt_line(int64_t merge_count, int64_t first, int64_t second, double similarity,
                               const std::string& threshold);
std::string merge_failure_line(int64_t merge_count);
std::string merge_success_line(int64_t merge_count, int64_t remaining);
std::string merge_stop_line(double similarity, const std::string& threshold);
std::string merge_summary_line(int64_t merge_count, int64_t remaining);

std::string init_ids_line(const std::string& ids);
std::string ids_line(const std::string& ids);

}  // namespace speech::css
