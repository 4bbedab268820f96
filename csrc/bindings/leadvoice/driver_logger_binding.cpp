// Logger: a text sink that copies every message to the console stream it
// replaced and to a UTF-8 log file flushed after each write, so the log holds
// everything up to an abrupt stop. A path that is not valid UTF-8 reaches the
// log as its own bytes, as it reaches a console of this locale.
#include <pybind11/pybind11.h>

#include <string>

#include "bindings/leadvoice/driver_parts.h"
#include "bindings/leadvoice/module_lookup.h"
#include "driver/paths.h"
#include "pyutil/fs_path.h"
#include "pyutil/plain_class.h"

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

void logger_write(py::object self, py::object message) {
  self.attr("terminal").attr("write")(message);
  if (!has_log_file(self)) return;
  const py::object log_file = self.attr("log_file");
  log_file.attr("write")(message);
  log_file.attr("flush")();
}

void logger_flush(py::object self) {
  self.attr("terminal").attr("flush")();
  if (has_log_file(self)) self.attr("log_file").attr("flush")();
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
