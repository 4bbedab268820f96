#pragma once
// An interpreter class whose methods are C++ functions; its bases are
// interpreter classes (object when none are given), so it can derive from a
// framework class such as torch.utils.data.Dataset. Instances keep their fields in an ordinary __dict__, so every
// field is a normal attribute that callers, subclasses and tests can read or
// replace, and methods read them at call time.
#include <pybind11/pybind11.h>

#include <string>
#include <utility>

namespace speech {

class PlainClass {
 public:
  PlainClass(pybind11::module_& scope, const char* name, const char* doc, const char* module_name,
             const pybind11::tuple& bases = pybind11::tuple()) {
    pybind11::dict ns;
    ns["__doc__"] = doc;
    ns["__module__"] = module_name;
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
    // pybind11 treats any function named __init__ as the constructor of one of
    // its own types; ours is an ordinary method, so it is built under another
    // name and bound as __init__.
    const bool init = std::string(name) == "__init__";
    pybind11::cpp_function method(std::forward<Func>(f), pybind11::name(init ? "initialize" : name),
                                  pybind11::is_method(cls_),
                                  pybind11::sibling(init ? pybind11::none() : pybind11::getattr(cls_, name, pybind11::none())), extra...);
    cls_.attr(name) = method;
    return *this;
  }

  const pybind11::object& type_object() const { return cls_; }

 private:
  pybind11::object cls_;
};

}  // namespace speech
