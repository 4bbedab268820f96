#pragma once
// The driver's names are registered from one binding file per concern, in the
// module's definition order.
#include <pybind11/pybind11.h>

namespace speech {

void define_main_channel(pybind11::module_& m);  // get_silero_vad_model, compute_speech_mean_energy, select_main_channel
void define_logger(pybind11::module_& m);        // Logger
void define_command_line(pybind11::module_& m);  // parse_args
void define_task_list(pybind11::module_& m);     // collect_tasks_from_jsonl
void define_rms(pybind11::module_& m);           // rms_level, rms_normalize
void define_main(pybind11::module_& m);          // main

}  // namespace speech

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bindings/driver_steps/models.h"
#include "driver/folder_claims.h"
#include "driver/run_outputs.h"
#include "driver/recording_logs.h"
#include "driver/run_tally.h"

namespace speech {

inline constexpr const char* kLeadvoicePackage = "leadvoice";

// The task that first wrote into an output folder.
struct FolderOwner {
  std::string wav_path;  // file-system bytes
  int64_t line_no = -1;  // its task-list line; -1 in directory mode
};

// What a run lends to each of its recordings, and what it remembers across
// them.
struct DriverRun {
  pybind11::object args;
  SeparationModels models;
  driver::FolderClaims<FolderOwner> folders;
  driver::RecordingLogs logs;
  driver::RunTally tally;
};

// The task list's line of the task, for naming it; -1 when it has none.
int64_t task_line_no(const pybind11::handle& task);

// The "prompt_wav" of every line of the task list that has a non-empty
// one, whatever its rate: every recording the list names.
std::vector<driver::RecordingInput> task_list_recordings(const pybind11::object& jsonl_path);

// --log_file when it is a non-empty text.
std::optional<std::string> shared_log_of(const pybind11::object& args);

// One task of the run: its folder, its log, separation, choice and files; or
// one warning line when its folder is taken or its recording cannot be used.
driver::TaskOutcome run_recording(DriverRun& run, const pybind11::handle& task);

}  // namespace speech
