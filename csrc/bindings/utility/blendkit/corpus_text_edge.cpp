#include "bindings/utility/blendkit/corpus_text_edge.h"

#include <utility>

namespace py = pybind11;

namespace speech::corpus {

std::optional<std::string> file_system_bytes(const py::handle& text) {
  PyObject* encoded = PyUnicode_EncodeFSDefault(text.ptr());
  if (encoded == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  const py::bytes bytes = py::reinterpret_steal<py::bytes>(encoded);
  return static_cast<std::string>(bytes);
}

py::str text_from_file_system(const std::string& bytes) {
  PyObject* text = PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

py::list texts_from_file_system(const std::vector<std::string>& paths) {
  py::list texts(paths.size());
  for (size_t i = 0; i < paths.size(); ++i) texts[i] = text_from_file_system(paths[i]);
  return texts;
}

std::string order_key(const py::handle& text) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (utf8 != nullptr) return std::string(utf8, static_cast<size_t>(size));
  PyErr_Clear();
  PyObject* encoded = PyUnicode_AsEncodedString(text.ptr(), "utf-8", "surrogatepass");
  if (encoded == nullptr) throw py::error_already_set();
  return static_cast<std::string>(py::reinterpret_steal<py::bytes>(encoded));
}

py::str text_from_order_key(const std::string& key) {
  PyObject* text = PyUnicode_DecodeUTF8(key.data(), static_cast<Py_ssize_t>(key.size()), "surrogatepass");
  if (text == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(text);
}

py::str path_text(const py::handle& path, const char* what) {
  PyObject* fs_path = PyOS_FSPath(path.ptr());
  if (fs_path == nullptr) throw py::error_already_set();
  py::object text = py::reinterpret_steal<py::object>(fs_path);
  if (!PyUnicode_Check(text.ptr())) {
    throw py::type_error(std::string(what) + " must be a text path, not " +
                         py::str(py::type::handle_of(text).attr("__name__")).cast<std::string>());
  }
  return py::reinterpret_steal<py::str>(text.release());
}

ExtensionFilter extension_filter_from(const py::handle& exts) {
  py::list lowered;
  for (const py::handle ext : py::iter(py::reinterpret_borrow<py::object>(exts))) {
    lowered.append(ext.attr("lower")());
  }
  std::vector<std::string> accepted;
  for (const py::handle ext : lowered) {
    if (!PyUnicode_Check(ext.ptr())) continue;  // never equal to a file name's text
    if (auto bytes = file_system_bytes(ext)) accepted.push_back(std::move(*bytes));
  }
  auto non_ascii = [lowered](std::string_view extension) {
    const py::str text = text_from_file_system(std::string(extension));
    return lowered.contains(text.attr("lower")());
  };
  return ExtensionFilter(std::move(accepted), std::move(non_ascii));
}

void raise_os_error(const OsCallError& error) {
  const py::object os_error = py::module_::import("builtins").attr("OSError");
  const py::object exception =
      error.path.empty() ? os_error(error.error_number, error.what())
                         : os_error(error.error_number, error.what(), text_from_file_system(error.path));
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
  throw py::error_already_set();
}

}  // namespace speech::corpus
