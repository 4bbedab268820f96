#pragma once
// What a pipeline run lends to each of its utterances, and how one
// utterance's ordinary failures are told apart from what ends the run.
#include <pybind11/pybind11.h>

#include <exception>
#include <map>
#include <optional>
#include <string>

#include "pyutil/py_print.h"
#include "triage/messages.h"

namespace speech {

struct TriageRun {
  pybind11::object args;
  pybind11::object device;
  pybind11::object detector;
  pybind11::object sep_model;
  pybind11::object speaker_tracker;
  pybind11::object fout;  // the result file, open for the whole loop
  double threshold = 0.0;
  std::string threshold_text;  // as the interpreter writes the float
  double hop = 0.0;
  std::string hop_text;
  std::string save_dir;
  // Utterance folders separated into so far (canonical path -> entry
  // number): a later entry with the same folder would overwrite the files
  // that an earlier result line points to.
  std::map<std::string, size_t> used_folders;
  RunCounts counts;
};

enum class Outcome { kSingle, kMulti, kFailed };

// One scp entry, from its header line to its result line.
Outcome handle_utterance(TriageRun& run, size_t idx, const pybind11::object& utt_id,
                         const pybind11::object& wav_path);

// An exception of the interpreter's Exception family, kept for its message
// and its traceback.
struct OrdinaryError {
  std::string text;  // str(exception)
  pybind11::object type;
  pybind11::object value;
  pybind11::object trace;
};

// Runs `body`. An ordinary exception (the Exception family, or an error of
// this extension's own C++ code) comes back as its text; anything else, an
// interrupt above all, leaves untouched.
template <typename Body>
std::optional<OrdinaryError> run_guarded(Body&& body) {
  try {
    body();
    return std::nullopt;
  } catch (pybind11::error_already_set& e) {
    if (!e.matches(PyExc_Exception)) throw;
    return OrdinaryError{py_str(e.value()), e.type(), e.value(), e.trace()};
  } catch (const std::exception& e) {
    return OrdinaryError{e.what(), pybind11::none(), pybind11::none(), pybind11::none()};
  }
}

}  // namespace speech
