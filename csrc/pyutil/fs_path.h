#pragma once
// The one crossing of paths between the interpreter and our C++ code. A path
// comes in as the file system's bytes, exactly as os.fsencode gives them (a
// text, bytes or an os.PathLike; text in the file system's encoding with
// surrogate escapes), and goes back as os.fsdecode makes text of bytes. A
// name that is not valid UTF-8 survives the round trip unchanged.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

namespace speech::pyutil {

namespace detail {

// The bytes object of os.fsencode(path), or a null object with the
// interpreter's error pending.
inline pybind11::object fs_encoded(const pybind11::handle& path) {
  namespace py = pybind11;
  const py::object spelled = py::reinterpret_steal<py::object>(PyOS_FSPath(path.ptr()));
  if (!spelled || PyBytes_Check(spelled.ptr())) return spelled;
  return py::reinterpret_steal<py::object>(PyUnicode_EncodeFSDefault(spelled.ptr()));
}

}  // namespace detail

// os.fsencode(path), with its errors: TypeError for anything that is not a
// path, UnicodeEncodeError for a text that no file name can hold (a lone
// surrogate that is not an escaped byte).
inline std::string fs_encode(const pybind11::handle& path) {
  const pybind11::object encoded = detail::fs_encoded(path);
  if (!encoded) throw pybind11::error_already_set();
  return encoded.cast<std::string>();
}

// os.fsencode(path), or nothing where that text can name no file
// (UnicodeEncodeError); TypeError still for anything that is not a path.
inline std::optional<std::string> try_fs_encode(const pybind11::handle& path) {
  const pybind11::object encoded = detail::fs_encoded(path);
  if (encoded) return encoded.cast<std::string>();
  pybind11::error_already_set error;
  if (error.matches(PyExc_UnicodeEncodeError)) return std::nullopt;
  throw error;
}

// os.fsdecode(bytes).
inline pybind11::str fs_decode(const std::string& bytes) {
  namespace py = pybind11;
  PyObject* text = PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

// [os.fsdecode(b) for b in paths].
inline pybind11::list fs_decode_each(const std::vector<std::string>& paths) {
  pybind11::list texts(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) texts[i] = fs_decode(paths[i]);
  return texts;
}

}  // namespace speech::pyutil
