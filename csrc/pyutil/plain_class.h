#pragma once
// An interpreter class whose methods are C++ functions; its bases are
// interpreter classes (object when none are given), so it can derive from a
// framework class such as torch.utils.data.Dataset. Instances keep their
// fields in an ordinary __dict__, so every field is a normal attribute that
// callers, subclasses and tests can read or replace, and methods read them
// at call time. Every method shows its signature (pyutil/text_signature.h),
// and so does the class, as a class statement's would: its __init__'s,
// without self.
#include <pybind11/pybind11.h>

#include <cstring>
#include <list>
#include <new>
#include <string>
#include <utility>

#include "pyutil/text_signature.h"

namespace speech::pyutil {

namespace detail {

// pybind11 treats any function named __init__ as the constructor of one of
// its own types, so the work of an ordinary __init__ is bound under another
// name, and the method the class holds is the interpreter's own function
// object named __init__, which hands every call on to it unchanged.
class InitForwarder {
 public:
  // A function object named __init__ with docstring `doc` that calls `body`.
  static pybind11::object make(pybind11::object body, std::string doc, const pybind11::str& module_name) {
    // Held for the life of the process, like the classes that hold them.
    static std::list<InitForwarder> made;
    InitForwarder& forwarder = made.emplace_back(std::move(doc));
    PyObject* function = PyCFunction_NewEx(&forwarder.def_, body.ptr(), module_name.ptr());
    if (function == nullptr) throw pybind11::error_already_set();
    return pybind11::reinterpret_steal<pybind11::object>(function);
  }

  explicit InitForwarder(std::string doc) : doc_(std::move(doc)) {
    def_.ml_name = "__init__";
    def_.ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&forward));
    def_.ml_flags = METH_FASTCALL | METH_KEYWORDS;
    def_.ml_doc = doc_.c_str();
  }
  InitForwarder(const InitForwarder&) = delete;
  InitForwarder& operator=(const InitForwarder&) = delete;

 private:
  static PyObject* forward(PyObject* body, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return PyObject_Vectorcall(body, args, static_cast<size_t>(nargs), kwnames);
  }

  std::string doc_;
  PyMethodDef def_{};
};

// The class's own text signature. The interpreter reads a class's
// __text_signature__ from its internal docstring, which type() copied from
// __doc__ when it built the class; __doc__ itself stays the docstring.
inline void set_class_text_signature(const pybind11::object& cls, const std::string& signed_doc) {
  auto* type = reinterpret_cast<PyTypeObject*>(cls.ptr());
  // The internal docstring of a class made at run time is the interpreter's
  // own allocation, freed with the class.
  char* copy = static_cast<char*>(PyObject_Malloc(signed_doc.size() + 1));
  if (copy == nullptr) throw std::bad_alloc();
  std::memcpy(copy, signed_doc.c_str(), signed_doc.size() + 1);
  PyObject_Free(const_cast<char*>(type->tp_doc));
  type->tp_doc = copy;
  PyType_Modified(type);
}

}  // namespace detail

class PlainClass {
 public:
  // The class `name` in `scope`, a module or package namespace, whose name
  // becomes the class's __module__.
  PlainClass(pybind11::module_& scope, const char* name, const char* doc,
             const pybind11::tuple& bases = pybind11::tuple())
      : name_(name), doc_(doc == nullptr ? "" : doc), module_name_(scope.attr("__name__")) {
    pybind11::dict ns;
    ns["__doc__"] = doc;
    ns["__module__"] = module_name_;
    ns["__qualname__"] = name;
    const pybind11::object type = pybind11::reinterpret_borrow<pybind11::object>(
        reinterpret_cast<PyObject*>(&PyType_Type));
    // The metaclass of the bases builds the class, as a class statement would.
    const pybind11::object meta =
        bases.empty() ? type : pybind11::reinterpret_borrow<pybind11::object>(
                                   reinterpret_cast<PyObject*>(Py_TYPE(bases[0].ptr())));
    cls_ = meta(name, bases, ns);
    scope.attr(name) = cls_;
  }

  template <typename Func, typename... Extra>
  PlainClass& def(const char* name, Func&& f, const Extra&... extra) {
    const ParameterList params = ParameterList::declared_by(extra...);
    const std::string doc = params.signed_doc(name, true);
    if (std::string(name) != "__init__") {
      cls_.attr(name) = method(name, std::forward<Func>(f), pybind11::getattr(cls_, name, pybind11::none()), extra...,
                               pybind11::doc(doc.c_str()));
      return *this;
    }
    const pybind11::object body = method("initialize", std::forward<Func>(f), pybind11::none(), extra...);
    cls_.attr("__init__") = instance_method(detail::InitForwarder::make(body, doc, module_name_));
    detail::set_class_text_signature(cls_, params.signature(name_) + doc_);
    return *this;
  }

  const pybind11::object& type_object() const { return cls_; }

 private:
  template <typename Func, typename... Extra>
  pybind11::cpp_function method(const char* name, Func&& f, const pybind11::object& sibling,
                                const Extra&... extra) const {
    return pybind11::cpp_function(std::forward<Func>(f), pybind11::name(name), pybind11::is_method(cls_),
                                  pybind11::sibling(sibling), extra...);
  }

  // A function stored on a class binds to the instance as a method only
  // when it is one of the interpreter's own functions or wrapped so.
  static pybind11::object instance_method(const pybind11::object& function) {
    PyObject* wrapped = PyInstanceMethod_New(function.ptr());
    if (wrapped == nullptr) throw pybind11::error_already_set();
    return pybind11::reinterpret_steal<pybind11::object>(wrapped);
  }

  std::string name_;
  std::string doc_;
  pybind11::object module_name_;
  pybind11::object cls_;
};

}  // namespace speech::pyutil
