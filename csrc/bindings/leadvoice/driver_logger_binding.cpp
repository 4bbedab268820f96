// Logger: a text sink that copies every message to the console stream it
// replaced and to a UTF-8 log file flushed after each write, so the log holds
// everything up to an abrupt stop. A path that is not valid UTF-8 reaches the
// log as its own bytes, as it reaches a console of this locale.
//
// A log file whose write or flush fails (a full disk) is given up: its error
// reaches the writer once, after the console has shown the message, and from
// then on the Logger serves the console alone. So the handler that reports
// the failure can still print, and the drivers' lines are never lost with
// the log.
#include <pybind11/pybind11.h>

#include <string>

#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "driver/paths.h"
#include "pyutil/fs_path.h"
#include "pyutil/plain_class.h"
#include "pyutil/raise_error.h"

namespace py = pybind11;

namespace speech {
namespace {

bool has_log_file(const py::object& self) { return !self.attr("log_file").is_none(); }

void logger_init(py::object self, py::object log_path) {
  self.attr("terminal") = leadvoice_attr("sys").attr("stdout");
  self.attr("log_file") = py::none();
  if (log_path.is_none() || !py::bool_(log_path)) return;
  const std::string path = pyutil::fs_encode(log_path);
  leadvoice_attr("ensure_dir")(pyutil::fs_decode(std::string(common::path_dirname(path))));
  self.attr("log_file") = py::module_::import("builtins").attr("open")(
      log_path, "w", py::arg("encoding") = "utf-8", py::arg("errors") = "surrogateescape");
}

// Closed at once, so the text it could not take is not tried again when it
// is closed or dropped; that closing fails for the same reason and adds
// nothing to the error already on its way.
void give_up_log_file(py::object& self, const py::object& log_file) {
  self.attr("log_file") = py::none();
  try {
    log_file.attr("close")();
  } catch (py::error_already_set&) {
  }
}

// The file layer's error names no file; the one raised names the log, so a
// caller that reports it tells the log from the other files it writes.
[[noreturn]] void raise_naming_log(py::error_already_set& e, const py::object& log_file) {
  const py::object error = e.value();
  if (!error.attr("filename").is_none() || error.attr("errno").is_none()) throw e;
  py::object named = py::module_::import("builtins")
                         .attr("OSError")(error.attr("errno"), error.attr("strerror"), log_file.attr("name"));
  named.attr("__cause__") = error;
  pyutil::raise_instance(named);
}

// `step` on the log file; an OSError of the file gives it up, then goes on
// to the caller. Any other error (a closed file, a message that is no text)
// leaves the Logger as it was.
template <typename Step>
void on_log_file(py::object& self, Step&& step) {
  if (!has_log_file(self)) return;
  const py::object log_file = self.attr("log_file");
  try {
    step(log_file);
  } catch (py::error_already_set& e) {
    if (!e.matches(PyExc_OSError)) throw;
    give_up_log_file(self, log_file);
    raise_naming_log(e, log_file);
  }
}

void logger_write(py::object self, py::object message) {
  self.attr("terminal").attr("write")(message);
  on_log_file(self, [&](const py::object& log_file) {
    log_file.attr("write")(message);
    log_file.attr("flush")();
  });
}

void logger_flush(py::object self) {
  self.attr("terminal").attr("flush")();
  on_log_file(self, [](const py::object& log_file) { log_file.attr("flush")(); });
}

void logger_close(py::object self) {
  if (has_log_file(self)) self.attr("log_file").attr("close")();
}

}  // namespace

void define_logger(py::module_& m) {
  pyutil::PlainClass cls(m, "Logger", "同时输出到控制台和文件的日志记录器");
  cls.def("__init__", &logger_init, py::arg("log_path") = py::none());
  cls.def("write", &logger_write, py::arg("message"));
  cls.def("flush", &logger_flush);
  cls.def("close", &logger_close);
}

}  // namespace speech
