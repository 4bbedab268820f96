#include "bindings/utility/blendkit/corpus_text_edge.h"

#include <optional>
#include <utility>
#include <vector>

#include "common/errors.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech::corpus {

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
    throw common::TypeError(std::string(what) + " must be a text path, not " + pyutil::type_name(text));
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
    if (std::optional<std::string> bytes = pyutil::try_fs_encode(ext)) accepted.push_back(std::move(*bytes));
  }
  auto non_ascii = [lowered](std::string_view extension) {
    const py::str text = pyutil::fs_decode(std::string(extension));
    return lowered.contains(text.attr("lower")());
  };
  return ExtensionFilter(std::move(accepted), std::move(non_ascii));
}

}  // namespace speech::corpus
