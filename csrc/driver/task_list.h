#pragma once
// Bookkeeping and texts of the JSON-lines task-list scan: every non-blank
// line ends in exactly one bucket, and one summary line shows them all.
#include <cstdint>
#include <string>

namespace speech {

struct TaskListCounters {
  int64_t total = 0;
  int64_t accepted = 0;
  int64_t skipped_no_field = 0;
  int64_t skipped_below_thresh = 0;
  int64_t skipped_invalid = 0;
  int64_t skipped_missing_wav = 0;
};

// `threshold` is the threshold as the interpreter prints it.
std::string task_list_summary(const TaskListCounters& counters, const std::string& threshold);

std::string parse_failure_warning(int64_t line_no, const std::string& error);
std::string not_object_warning(int64_t line_no);
// `rate_repr`: the interpreter's repr of the line's rate value.
std::string rate_not_numeric_warning(int64_t line_no, const std::string& rate_repr);
std::string missing_wav_warning(int64_t line_no);
std::string wav_not_text_warning(int64_t line_no, const std::string& value_repr);
std::string wav_not_found_warning(int64_t line_no, const std::string& wav_path);

}  // namespace speech
