#pragma once
// The run of the training-stream demonstration: per epoch a heading, the
// dataset's epoch set before its batches are iterated, then one line per
// step and every sample of the step's batch saved as wav files, up to a
// step limit that is tested after each step. The program's side (the
// loader, the batch's tensors, the files) is its owner's.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace speech::mixsim {

// The values a step line shows, in their text form.
struct StepValues {
  int64_t batch_size = 0;
  std::string mixture_lens;
  std::string num_spk;
  std::string source_ids;
};

class DemoSteps {
 public:
  virtual ~DemoSteps() = default;

  virtual void print(const std::string& line) = 0;
  virtual void set_epoch(int64_t epoch) = 0;
  // Iterates the loader anew; next_batch moves to its next batch, false
  // once there is none; finish_epoch lets go of the iteration.
  virtual void start_epoch() = 0;
  virtual bool next_batch() = 0;
  virtual void finish_epoch() = 0;
  // Reads the current batch: an error here ends the program.
  virtual StepValues read_batch() = 0;
  // Saves the current batch's samples (save_samples, guarded): the text of
  // the error that stopped it, if one did.
  virtual std::optional<std::string> save_batch(int64_t epoch, int64_t step, int64_t batch_size) = 0;
};

// The steps an epoch is to make: the step limit (at least one step, as the
// limit is tested after a step; a negative limit means none) or the
// batches the loader is to get in an epoch (none when the stream is
// endless), whichever is fewer; none when neither bounds it.
std::optional<int64_t> steps_asked(int64_t max_steps_per_epoch, std::optional<int64_t> epoch_batches);

// Every epoch, then a line for each epoch that made fewer steps than
// asked (its stream ran out of attempts), then "Done.".
void run_epochs(DemoSteps& steps, int64_t epochs, int64_t max_steps_per_epoch,
                std::optional<int64_t> epoch_batches);

// The files of one batch's samples.
class SampleFiles {
 public:
  virtual ~SampleFiles() = default;

  // The texts of sample j's ids; nothing when it has no id list, or when
  // one cannot be written as text (its files are then named without them).
  virtual std::optional<std::vector<std::string>> id_texts(int64_t j) = 0;
  // The id of slot k of sample j, when its id list has one.
  virtual std::optional<std::string> slot_id(int64_t j, int64_t k) = 0;
  // Writes sample j's mixture as `name` in the output folder: its path.
  virtual std::string write_mixture(int64_t j, const std::string& name) = 0;
  // Whether the batch has sources and their lengths, and how many slots.
  virtual bool has_sources() = 0;
  virtual int64_t slots() = 0;
  virtual int64_t source_length(int64_t j, int64_t k) = 0;
  virtual std::string write_source(int64_t j, int64_t k, int64_t length, const std::string& name) = 0;
  virtual void print(const std::string& line) = 0;
};

// Per sample: the mixture, then every slot with samples, named by epoch,
// step, sample and ids, and one "Saved: " line.
void save_samples(SampleFiles& files, int64_t epoch, int64_t step, int64_t batch_size);

}  // namespace speech::mixsim
