#pragma once
// Console output through the interpreter's print, so a replaced sys.stdout
// (the drivers' Logger) sees every line, looked up at the moment of printing.
//
// A line is UTF-8 text whose path pieces are file-system bytes: bytes that
// are not UTF-8 cross as surrogate escapes, both ways, so a path that is not
// valid UTF-8 is shown as the interpreter spells it (os.fsdecode) and a text
// that carries such escapes keeps them.
#include <pybind11/pybind11.h>

#include <string>

namespace speech::pyutil {

inline pybind11::str utf8_text(const std::string& line) {
  PyObject* text = PyUnicode_DecodeUTF8(line.data(), static_cast<Py_ssize_t>(line.size()), "surrogateescape");
  if (text == nullptr) throw pybind11::error_already_set();
  return pybind11::reinterpret_steal<pybind11::str>(text);
}

inline void py_print(const std::string& line) {
  pybind11::module_::import("builtins").attr("print")(utf8_text(line));
}

// str(obj), as print would render it.
inline std::string py_str(const pybind11::handle& obj) {
  namespace py = pybind11;
  const py::str text(obj);
  PyObject* bytes = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogateescape");
  if (bytes == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::bytes>(bytes).cast<std::string>();
}

// type(obj).__name__, as an error message names a type.
inline std::string type_name(const pybind11::handle& obj) {
  return py_str(pybind11::type::handle_of(obj).attr("__name__"));
}

}  // namespace speech::pyutil
