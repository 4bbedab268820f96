#include "mixsim/demo_run.h"

#include <utility>

#include "mixsim/demo_output_names.h"

namespace speech::mixsim {
namespace {

// A negative step limit means none. The steps made.
int64_t run_epoch(DemoSteps& steps, int64_t epoch, int64_t max_steps) {
  steps.print(epoch_heading(epoch));
  // Before the iteration starts: loader workers take the dataset as it is.
  steps.set_epoch(epoch);
  steps.start_epoch();
  int64_t done = 0;
  for (int64_t step = 0; steps.next_batch(); ++step) {
    ++done;
    const StepValues values = steps.read_batch();
    steps.print(step_line(epoch, step, std::to_string(values.batch_size), values.mixture_lens, values.num_spk,
                          values.source_ids));
    if (const std::optional<std::string> error = steps.save_batch(epoch, step, values.batch_size)) {
      steps.print(save_failure_line(epoch, step, *error));
    }
    if (max_steps >= 0 && done >= max_steps) break;
  }
  steps.finish_epoch();
  return done;
}

void save_sample(SampleFiles& files, int64_t epoch, int64_t step, int64_t j) {
  std::string base = sample_base_name(epoch, step, j);
  if (const std::optional<std::vector<std::string>> ids = files.id_texts(j)) base = with_id_tag(base, *ids);
  std::vector<std::string> saved{files.write_mixture(j, mixture_file_name(base))};
  if (files.has_sources()) {
    const int64_t slots = files.slots();
    for (int64_t k = 0; k < slots; ++k) {
      const int64_t length = files.source_length(j, k);
      if (length <= 0) continue;
      saved.push_back(files.write_source(j, k, length, source_file_name(base, k, files.slot_id(j, k))));
    }
  }
  files.print(saved_line(saved));
}

}  // namespace

std::optional<int64_t> steps_asked(int64_t max_steps_per_epoch, std::optional<int64_t> epoch_batches) {
  if (max_steps_per_epoch < 0) return epoch_batches;
  const int64_t limit = max_steps_per_epoch > 1 ? max_steps_per_epoch : 1;
  if (!epoch_batches) return limit;
  return *epoch_batches < limit ? *epoch_batches : limit;
}

void run_epochs(DemoSteps& steps, int64_t epochs, int64_t max_steps_per_epoch,
                std::optional<int64_t> epoch_batches) {
  const std::optional<int64_t> asked = steps_asked(max_steps_per_epoch, epoch_batches);
  std::vector<std::pair<int64_t, int64_t>> short_epochs;  // epoch, steps made
  for (int64_t epoch = 0; epoch < epochs; ++epoch) {
    const int64_t done = run_epoch(steps, epoch, max_steps_per_epoch);
    // Unbounded, an epoch ends only when its stream does.
    if (!asked || done < *asked) short_epochs.emplace_back(epoch, done);
  }
  for (const auto& [epoch, done] : short_epochs) steps.print(short_epoch_summary(epoch, done, asked));
  steps.print("Done.");
}

void save_samples(SampleFiles& files, int64_t epoch, int64_t step, int64_t batch_size) {
  for (int64_t j = 0; j < batch_size; ++j) save_sample(files, epoch, step, j);
}

}  // namespace speech::mixsim
