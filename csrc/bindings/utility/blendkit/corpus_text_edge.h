#pragma once
// Crossing between the interpreter's path texts and the keys the corpus core
// orders them by (file-system bytes cross through pyutil/fs_path.h): "order
// keys" are the UTF-8 form of a text with surrogates kept, whose byte order
// is the interpreter's text order.
#include <pybind11/pybind11.h>

#include <string>

#include "corpus/extension_filter.h"

namespace speech::corpus {

std::string order_key(const pybind11::handle& text);
pybind11::str text_from_order_key(const std::string& key);

// os.fspath(path), which must give text; `what` names the argument in the
// error otherwise.
pybind11::str path_text(const pybind11::handle& path, const char* what);

// The accepted extensions: [e.lower() for e in exts], compared as the
// interpreter compares texts.
ExtensionFilter extension_filter_from(const pybind11::handle& exts);

}  // namespace speech::corpus
