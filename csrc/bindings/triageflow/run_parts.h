#pragma once
// What a pipeline run lends to each of its utterances, and how one
// utterance's ordinary failures are told apart from what ends the run.
#include <pybind11/pybind11.h>

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "bindings/driver_steps/models.h"
#include "pyutil/py_print.h"
#include "pyutil/translated_error.h"
#include "triage/gates.h"
#include "triage/outcome.h"
#include "triage/result_file.h"

namespace speech {

struct TriageRun {
  pybind11::object args;
  SeparationModels models;
  pybind11::object detector;
  std::unique_ptr<ResultFile> result_file;  // locked from start-up to the end of the loop
  GateSettings settings;
  UtteranceFolders folders{""};
  RunCounts counts;
};

// One scp entry, from its header line to its result line.
Outcome handle_utterance(TriageRun& run, size_t idx, const pybind11::object& utt_id,
                         const pybind11::object& wav_path);

// An exception of the interpreter's Exception family, kept for its message
// and its traceback (None when no interpreter frame was passed, as for an
// error of our own C++ code).
struct OrdinaryError {
  std::string text;  // str(exception)
  pybind11::object type;
  pybind11::object value;
  pybind11::object trace;
};

inline pybind11::object or_none(const pybind11::object& obj) { return obj ? obj : pybind11::none(); }

// The kept exception, or nothing when it is not of the ordinary kind.
inline std::optional<OrdinaryError> ordinary(pybind11::error_already_set& e) {
  if (!e.matches(PyExc_Exception)) return std::nullopt;
  return OrdinaryError{py_str(e.value()), or_none(e.type()), or_none(e.value()),
                       or_none(e.trace())};
}

// Runs `body`. An ordinary exception comes back as its text; an error of
// this extension's own C++ code is first made the exception it would be at
// the binding edge, so both are handled alike. Anything else, an interrupt
// above all, leaves untouched.
template <typename Body>
std::optional<OrdinaryError> run_guarded(Body&& body) {
  try {
    body();
    return std::nullopt;
  } catch (pybind11::error_already_set& e) {
    if (auto kept = ordinary(e)) return kept;
    throw;
  } catch (const std::exception&) {
    pybind11::error_already_set e = translated_error(std::current_exception());
    if (auto kept = ordinary(e)) return kept;
    throw e;
  }
}

// The text of a failure, when there was one.
inline std::optional<std::string> failure_text(const std::optional<OrdinaryError>& failure) {
  return failure ? std::optional<std::string>(failure->text) : std::nullopt;
}

}  // namespace speech
