// parse_scp: the utterance list, read through the interpreter's UTF-8 text
// reader (every line end it knows) and split line by line in C++. Bytes that
// are not UTF-8 are the file-system bytes of an id or a path: they cross as
// surrogate escapes, as os.fsdecode makes them, so such a name still names
// its file.
#include <pybind11/pybind11.h>

#include <string>

#include "bindings/triageflow/package_lookup.h"
#include "bindings/triageflow/registration.h"
#include "common/errors.h"
#include "common/file_kind.h"
#include "pyutil/fs_path.h"
#include "pyutil/py_print.h"
#include "pyutil/scope_guards.h"
#include "pyutil/text_signature.h"
#include "triage/messages.h"
#include "triage/scp_line.h"

namespace py = pybind11;

namespace speech {
namespace {

void read_entries(const py::object& file, py::list& items) {
  long line_no = 0;
  for (const py::handle text : file) {
    ++line_no;
    const triage::ScpLine line = triage::parse_scp_line(pyutil::py_str(text));
    if (line.kind == triage::ScpLineKind::kMalformed) {
      pyutil::py_print(triage::scp_malformed_warning(line_no, line.stripped));
    } else if (line.kind == triage::ScpLineKind::kEntry) {
      items.append(py::make_tuple(pyutil::utf8_text(line.utt_id), pyutil::utf8_text(line.wav_path)));
    }
  }
}

py::list parse_scp(const py::object& scp_path) {
  const std::string path = pyutil::fs_encode(scp_path);
  if (!common::is_regular_file(path)) throw common::FileNotFoundError(triage::scp_missing_error(path));
  py::list items;
  const py::object file = py::module_::import("builtins").attr("open")(
      scp_path, "r", py::arg("encoding") = "utf-8", py::arg("errors") = "surrogateescape");
  {
    const pyutil::ClosingFile closing(file);
    read_entries(file, items);
  }
  return items;
}

}  // namespace

void define_parse_scp(py::module_& m) {
  pyutil::def_function(m, "parse_scp", &parse_scp, py::arg("scp_path"),
                       "解析 scp 文件，返回 [(utt_id, wav_path), ...]");
}

}  // namespace speech
