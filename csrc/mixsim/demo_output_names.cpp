#include "mixsim/demo_output_names.h"

#include <cstdio>

namespace speech::mixsim {

std::string sample_base_name(int64_t epoch, int64_t step, int64_t sample) {
  char buf[96];
  std::snprintf(buf, sizeof(buf), "epoch%03lld_step%06lld_b%lld", static_cast<long long>(epoch),
                static_cast<long long>(step), static_cast<long long>(sample));
  return buf;
}

std::string with_id_tag(const std::string& base, const std::vector<std::string>& ids) {
  std::string tag;
  for (size_t k = 0; k < ids.size(); ++k) {
    if (k > 0) tag += "_";
    tag += ids[k];
  }
  return base + "_sids" + tag;
}

std::string mixture_file_name(const std::string& base) { return base + "_mixture.wav"; }

std::string source_file_name(const std::string& base, int64_t slot, const std::optional<std::string>& slot_id) {
  std::string name = base + "_source" + std::to_string(slot);
  if (slot_id) name += "_sid" + *slot_id;
  return name + ".wav";
}

std::string epoch_heading(int64_t epoch) { return "\n=== Epoch " + std::to_string(epoch) + " ==="; }

std::string step_line(int64_t epoch, int64_t step, const std::string& batch_size, const std::string& mixture_lens,
                      const std::string& num_spk, const std::string& source_ids) {
  return "[epoch " + std::to_string(epoch) + "] step " + std::to_string(step) + " | batch_size=" + batch_size +
         " | mixture_lens=" + mixture_lens + " | num_spk=" + num_spk + " | source_ids=" + source_ids;
}

std::string saved_line(const std::vector<std::string>& paths) {
  std::string line = "Saved: ";
  for (size_t k = 0; k < paths.size(); ++k) {
    if (k > 0) line += ", ";
    line += paths[k];
  }
  return line;
}

std::string save_failure_line(int64_t epoch, int64_t step, const std::string& error_text) {
  return "[Warning] failed to save wavs at epoch " + std::to_string(epoch) + " step " + std::to_string(step) + ": " +
         error_text;
}

std::string short_epoch_summary(int64_t epoch, int64_t steps, std::optional<int64_t> asked) {
  const std::string head = "[Warning] epoch " + std::to_string(epoch) + " made " + std::to_string(steps);
  if (!asked) return head + (steps == 1 ? " step" : " steps") + "; the endless stream ended";
  return head + " of " + std::to_string(*asked) + " steps";
}

}  // namespace speech::mixsim
