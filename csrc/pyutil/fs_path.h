#pragma once
// The one crossing of paths between the interpreter and our C++ code. A path
// comes in as the file system's bytes, exactly as os.fsencode gives them (a
// text, bytes or an os.PathLike; text in the file system's encoding with
// surrogate escapes), and goes back as os.fsdecode makes text of bytes. A
// name that is not valid UTF-8 survives the round trip unchanged.
#include <pybind11/pybind11.h>

#include <string>

namespace speech {

// os.fsencode(path): TypeError for anything that is not a path.
inline std::string fs_encode(const pybind11::handle& path) {
  namespace py = pybind11;
  const py::object spelled = py::reinterpret_steal<py::object>(PyOS_FSPath(path.ptr()));
  if (!spelled) throw py::error_already_set();
  if (PyBytes_Check(spelled.ptr())) return py::reinterpret_borrow<py::bytes>(spelled).cast<std::string>();
  const py::object encoded = py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(spelled.ptr()));
  if (!encoded) throw py::error_already_set();
  return py::reinterpret_borrow<py::bytes>(encoded).cast<std::string>();
}

// os.fsdecode(bytes).
inline pybind11::str fs_decode(const std::string& bytes) {
  namespace py = pybind11;
  PyObject* text = PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

}  // namespace speech
