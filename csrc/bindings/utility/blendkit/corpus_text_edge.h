#pragma once
// Crossing between the interpreter's path texts and the bytes the corpus core
// works on. File-system bytes decode as os.listdir decodes them (undecodable
// bytes as lone surrogates); "order keys" are the UTF-8 form of a text with
// surrogates kept, whose byte order is the interpreter's text order.
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "corpus/extension_filter.h"
#include "corpus/os_error.h"

namespace speech::corpus {

// The file-system bytes of a text, or nothing when it has none (a surrogate
// that no file name can hold).
std::optional<std::string> file_system_bytes(const pybind11::handle& text);
pybind11::str text_from_file_system(const std::string& bytes);
pybind11::list texts_from_file_system(const std::vector<std::string>& paths);

std::string order_key(const pybind11::handle& text);
pybind11::str text_from_order_key(const std::string& key);

// os.fspath(path), which must give text; `what` names the argument in the
// error otherwise.
pybind11::str path_text(const pybind11::handle& path, const char* what);

// The accepted extensions: [e.lower() for e in exts], compared as the
// interpreter compares texts.
ExtensionFilter extension_filter_from(const pybind11::handle& exts);

// Raises the interpreter's OSError subclass for the failed call.
[[noreturn]] void raise_os_error(const OsCallError& error);

}  // namespace speech::corpus
