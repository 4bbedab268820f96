#pragma once
// Names and console lines of the training-stream demonstration: one wav file
// per mixture and per source slot of every batch, named by epoch, step and
// sample so a listener can find each one.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace speech::mixsim {

// "epoch" + epoch (3 digits) + "_step" + step (6 digits) + "_b" + sample.
std::string sample_base_name(int64_t epoch, int64_t step, int64_t sample);
// base + "_sids" + the sample's ids joined with "_".
std::string with_id_tag(const std::string& base, const std::vector<std::string>& ids);
std::string mixture_file_name(const std::string& base);
// base + "_source" + slot [+ "_sid" + id] + ".wav".
std::string source_file_name(const std::string& base, int64_t slot, const std::optional<std::string>& slot_id);

// An empty line, then the epoch's heading.
std::string epoch_heading(int64_t epoch);
// The per-step summary; the values come already in their text form.
std::string step_line(int64_t epoch, int64_t step, const std::string& batch_size, const std::string& mixture_lens,
                      const std::string& num_spk, const std::string& source_ids);
std::string saved_line(const std::vector<std::string>& paths);
std::string save_failure_line(int64_t epoch, int64_t step, const std::string& error_text);
// The closing line of an epoch that made fewer steps than `asked` (none:
// an endless stream without a step limit).
std::string short_epoch_summary(int64_t epoch, int64_t steps, std::optional<int64_t> asked);

}  // namespace speech::mixsim
