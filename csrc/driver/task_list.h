#pragma once
// Bookkeeping and texts of the JSON-lines task-list scan: every non-blank
// line ends in exactly one bucket, by the first check it fails, and one
// summary line shows them all.
#include <cstdint>
#include <optional>
#include <string>

namespace speech::driver {

struct TaskListCounters {
  int64_t total = 0;
  int64_t accepted = 0;
  int64_t skipped_no_field = 0;
  int64_t skipped_below_thresh = 0;
  int64_t skipped_invalid = 0;
  int64_t skipped_missing_wav = 0;
};

// What the scan makes of one non-blank line, in the order of its checks.
enum class TaskLineVerdict {
  kParseFailed,     // not JSON the parser takes
  kNotObject,       // JSON, but not an object
  kNoRateField,     // no "multi_spks_rate"
  kRateNotNumeric,  // a rate that is not a finite real
  kBelowThreshold,  // a rate not above the threshold
  kNoWav,           // no "prompt_wav", or an empty one
  kWavNotText,      // a "prompt_wav" that is not a text
  kWavNotFound,     // a "prompt_wav" that names no file
  kAccepted,
};

// NaN and the infinities say nothing about how many talkers a recording
// holds; a value the real conversion refuses is not a rate at all.
bool usable_rate(const std::optional<double>& rate);

class TaskListScan {
 public:
  // Counts the line in the bucket of its verdict and returns the warning to
  // print for it, "" for the silent ones. `detail`: the parser's message
  // (kParseFailed), the value's repr (kRateNotNumeric, kWavNotText) or the
  // path (kWavNotFound).
  std::string note(int64_t line_no, TaskLineVerdict verdict, const std::string& detail = "");
  const TaskListCounters& counters() const { return counters_; }

 private:
  TaskListCounters counters_;
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

}  // namespace speech::driver
