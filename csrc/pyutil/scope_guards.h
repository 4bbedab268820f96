#pragma once
// The clean-up of a `finally` clause, run by destructors: when the scope
// ends normally, a failure of the clean-up is the scope's failure (it
// propagates, as the clause's own exception would); when an error is already
// on its way out, that error goes on and the clean-up's failure is dropped,
// so the first error is the one reported.
#include <pybind11/pybind11.h>

#include <exception>
#include <functional>
#include <utility>

namespace speech::pyutil {

class ScopeExit {
 public:
  explicit ScopeExit(std::function<void()> cleanup) : cleanup_(std::move(cleanup)) {}
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

  // May throw, but only when no other exception is in flight.
  ~ScopeExit() noexcept(false) {
    if (std::uncaught_exceptions() == exceptions_at_entry_) {
      cleanup_();
      return;
    }
    try {
      cleanup_();
    } catch (const std::exception&) {
      // The error already leaving the scope is the one that counts; an
      // interpreter error caught here is dropped with its object.
    }
  }

 private:
  std::function<void()> cleanup_;
  int exceptions_at_entry_ = std::uncaught_exceptions();
};

// sys.stdout is `stream` for the guard's life; `restored` becomes
// sys.stdout again on every way out. `sys` is the module the caller's
// package holds.
class StdoutRedirect {
 public:
  StdoutRedirect(const pybind11::object& sys, const pybind11::object& stream, const pybind11::object& restored)
      : restore_([sys, restored] { sys.attr("stdout") = restored; }) {
    sys.attr("stdout") = stream;
  }

 private:
  ScopeExit restore_;
};

// file.close() on every way out, as a `with` block over an open file does.
class ClosingFile {
 public:
  explicit ClosingFile(const pybind11::object& file) : close_([file] { file.attr("close")(); }) {}

 private:
  ScopeExit close_;
};

}  // namespace speech::pyutil
