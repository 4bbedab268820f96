#pragma once
// What a pipeline run lends to each of its utterances, and the text of an
// utterance's ordinary failure.
#include <pybind11/pybind11.h>

#include <memory>
#include <optional>
#include <string>

#include "bindings/driver_steps/models.h"
#include "pyutil/ordinary_errors.h"
#include "triage/gates.h"
#include "triage/outcome.h"
#include "triage/result_file.h"

namespace speech {

struct TriageRun {
  pybind11::object args;
  SeparationModels models;
  pybind11::object detector;
  std::unique_ptr<triage::ResultFile> result_file;  // locked from start-up to the end of the loop
  triage::GateSettings settings;
  triage::UtteranceFolders folders{""};
  triage::RunCounts counts;
};

// One scp entry, from its header line to its result line.
triage::Outcome handle_utterance(TriageRun& run, size_t idx, const pybind11::object& utt_id,
                                 const pybind11::object& wav_path);

// The text of a failure, when there was one.
inline std::optional<std::string> failure_text(const std::optional<pyutil::OrdinaryError>& failure) {
  return failure ? std::optional<std::string>(failure->text) : std::nullopt;
}

}  // namespace speech
