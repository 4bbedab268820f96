#pragma once
// Binding of a call's arguments to named parameters, with the interpreter's
// own TypeError texts for a wrong count, an unknown keyword or a parameter
// given twice, checked in the interpreter's order. The same table gives the
// function's signature text. Also the conversions of the bound values the
// metrics functions take.
#include <torch/extension.h>

#include <string>
#include <variant>
#include <vector>

#include "pyutil/float_value.h"
#include "pyutil/text_signature.h"

namespace speech {

struct Parameter {
  const char* name;
  // Nothing for a required parameter; else the default, made an interpreter
  // object (float or bool) when a call omits it.
  std::variant<std::monostate, double, bool> default_value = {};

  bool required() const { return std::holds_alternative<std::monostate>(default_value); }
  pybind11::object default_object() const {
    if (const double* real = std::get_if<double>(&default_value)) return pybind11::float_(*real);
    if (const bool* flag = std::get_if<bool>(&default_value)) return pybind11::bool_(*flag);
    return pybind11::object();
  }
};

// The parameters in order; the required ones lead.
struct Signature {
  const char* function;
  std::vector<Parameter> params;

  size_t n_required() const {
    size_t n = 0;
    while (n < params.size() && params[n].required()) ++n;
    return n;
  }

  // "function(p1, p2=default, ...)\n--\n\n" and then `doc`.
  std::string signed_doc(const char* doc) const {
    pyutil::ParameterList list;
    for (const Parameter& p : params) {
      if (p.required()) {
        list.add(p.name);
      } else {
        list.add(p.name, p.default_object());
      }
    }
    return list.signature(function) + doc;
  }
};

namespace detail {

inline std::string quoted_list(const std::vector<std::string>& names) {
  std::string out;
  for (size_t k = 0; k < names.size(); ++k) {
    if (k > 0) out += names.size() > 2 ? ", " : " ";
    if (k > 0 && k + 1 == names.size()) out += "and ";
    out += "'" + names[k] + "'";
  }
  return out;
}

[[noreturn]] inline void type_error(const std::string& text) { throw pybind11::type_error(text); }

}  // namespace detail

// One object per parameter; an omitted optional one is its default.
inline std::vector<pybind11::object> bind_call(const Signature& sig, const pybind11::args& args,
                                               const pybind11::kwargs& kwargs) {
  namespace py = pybind11;
  const std::string fn = std::string(sig.function) + "()";
  std::vector<py::object> bound(sig.params.size());
  const size_t given = args.size();
  for (size_t k = 0; k < given && k < bound.size(); ++k) bound[k] = args[k];
  for (const auto& item : kwargs) {
    if (!py::isinstance<py::str>(item.first)) detail::type_error(fn + " keywords must be strings");
    const std::string key = item.first.cast<std::string>();
    size_t slot = 0;
    while (slot < bound.size() && key != sig.params[slot].name) ++slot;
    if (slot == bound.size()) detail::type_error(fn + " got an unexpected keyword argument '" + key + "'");
    if (bound[slot]) detail::type_error(fn + " got multiple values for argument '" + key + "'");
    bound[slot] = py::reinterpret_borrow<py::object>(item.second);
  }
  const size_t n_required = sig.n_required();
  if (given > bound.size()) {
    const size_t total = bound.size();
    const std::string range = n_required < total ? "from " + std::to_string(n_required) + " to " + std::to_string(total)
                                                 : std::to_string(total);
    detail::type_error(fn + " takes " + range + " positional argument" + (total != 1 ? "s" : "") + " but " +
                       std::to_string(given) + (given == 1 ? " was" : " were") + " given");
  }
  std::vector<std::string> missing;
  for (size_t k = 0; k < n_required; ++k) {
    if (!bound[k]) missing.push_back(sig.params[k].name);
  }
  if (!missing.empty()) {
    detail::type_error(fn + " missing " + std::to_string(missing.size()) + " required positional argument" +
                       (missing.size() > 1 ? "s" : "") + ": " + detail::quoted_list(missing));
  }
  for (size_t k = n_required; k < bound.size(); ++k) {
    if (!bound[k]) bound[k] = sig.params[k].default_object();
  }
  return bound;
}

// Tensors are all these functions compute on; anything else is refused here
// rather than deep inside the arithmetic.
inline at::Tensor tensor_arg(const Signature& sig, const pybind11::object& obj, const char* name) {
  if (!THPVariable_Check(obj.ptr())) {
    detail::type_error(std::string(sig.function) + "(): " + name + " must be a torch.Tensor, not " +
                       Py_TYPE(obj.ptr())->tp_name);
  }
  return THPVariable_Unpack(obj.ptr());
}

}  // namespace speech
