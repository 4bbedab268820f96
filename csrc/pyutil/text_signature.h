#pragma once
// The signature a bound function shows to inspect.signature and help().
// pybind11's own signature lines are off in every module (they name C++
// types, not parameters and defaults), so each function's docstring starts
// with its signature as the interpreter's own built-ins write it:
// "name(a, b=1, *, c='x')\n--\n\n" and then the docstring proper. The
// interpreter takes __text_signature__ from that first part and gives the
// rest as __doc__. The parameter list is read from the very arguments that
// declare the function's parameters to pybind11 (py::arg, py::arg_v,
// py::kw_only, py::pos_only), so the two cannot disagree; a default is
// written as repr() writes it, which inspect reads back as an equal literal.
#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

#include "pyutil/py_print.h"

namespace speech::pyutil {

class ParameterList {
 public:
  // The parameters and the docstring that pybind11's `extra` arguments of a
  // definition declare; anything else among them shows nothing.
  template <typename... Extra>
  static ParameterList declared_by(const Extra&... extra) {
    ParameterList list;
    (list.take(extra), ...);
    return list;
  }

  void add(const std::string& name) { pieces_.push_back(name); }
  void add(const std::string& name, const pybind11::handle& default_value) {
    pieces_.push_back(name + "=" + py_str(pybind11::repr(default_value)));
  }
  void keyword_only() { pieces_.push_back("*"); }
  void positional_only() { pieces_.push_back("/"); }

  const std::string& doc() const { return doc_; }

  // "name(p1, p2, ...)\n--\n\n"; for a method, `self` comes first.
  std::string signature(const std::string& name, bool method = false) const {
    std::string text = name + "(" + (method ? "self" : "");
    for (size_t i = 0; i < pieces_.size(); ++i) text += (i > 0 || method ? ", " : "") + pieces_[i];
    return text + ")\n--\n\n";
  }

  // The signature, then the docstring.
  std::string signed_doc(const std::string& name, bool method = false) const { return signature(name, method) + doc_; }

 private:
  void take(const pybind11::arg_v& a) { add(a.name, a.value); }
  void take(const pybind11::arg& a) { add(a.name); }
  void take(const pybind11::kw_only&) { keyword_only(); }
  void take(const pybind11::pos_only&) { positional_only(); }
  void take(const char* doc) { doc_ = doc == nullptr ? "" : doc; }
  void take(const pybind11::doc& doc) { take(doc.value); }
  template <typename Other>
  void take(const Other&) {}

  std::vector<std::string> pieces_;
  std::string doc_;
};

// A function object `name` calling `f`, its docstring led by its signature.
template <typename Func, typename... Extra>
pybind11::cpp_function signed_function(const char* name, Func&& f, const Extra&... extra) {
  const std::string doc = ParameterList::declared_by(extra...).signed_doc(name);
  // The last docstring given is the one pybind11 keeps.
  return pybind11::cpp_function(std::forward<Func>(f), pybind11::name(name), extra..., pybind11::doc(doc.c_str()));
}

// m.def(name, f, extra...), its docstring led by its signature.
template <typename Func, typename... Extra>
void def_function(pybind11::module_& m, const char* name, Func&& f, const Extra&... extra) {
  const std::string doc = ParameterList::declared_by(extra...).signed_doc(name);
  m.def(name, std::forward<Func>(f), extra..., pybind11::doc(doc.c_str()));
}

}  // namespace speech::pyutil
