#pragma once
// A package's own collaborator (a function, a method, a class), noted when
// the module is made. While a step still reaches that very object it may
// take a faster road that gives the same result; once a test or a user has
// put something else in its place, the step calls what is there now, as the
// step is defined.
#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace speech::pyutil {

class KeptOriginal {
 public:
  // Held for the life of the process, like the package's own names.
  void keep(const pybind11::object& original) { original_ = pybind11::object(original).release(); }
  // Whether `current` is the very object noted; never, when none was.
  bool is(const pybind11::handle& current) const { return original_ && current.ptr() == original_.ptr(); }

 private:
  pybind11::handle original_;
};

// A class noted with the methods that a faster road stands in for, each as
// the class offered it then (its own or inherited, `__call__` included). An
// object still runs as noted while it is of exactly that class, the class
// still offers those very methods, and no attribute of the object's own
// hides one of them (`obj.forward = ...`).
class KeptClass {
 public:
  void keep(const pybind11::object& cls, std::initializer_list<const char*> methods) {
    class_.keep(cls);
    methods_.clear();
    for (const char* name : methods) {
      methods_.emplace_back(name, KeptOriginal());
      methods_.back().second.keep(cls.attr(name));
    }
  }

  bool is(const pybind11::handle& cls) const { return class_.is(cls); }

  bool runs_as_kept(const pybind11::handle& object) const {
    const pybind11::handle cls = pybind11::type::handle_of(object);
    if (!class_.is(cls)) return false;
    const pybind11::object own = pybind11::getattr(object, "__dict__", pybind11::none());
    for (const auto& [name, method] : methods_) {
      if (!method.is(cls.attr(name.c_str()))) return false;
      if (pybind11::isinstance<pybind11::dict>(own) && own.contains(name)) return false;
    }
    return true;
  }

 private:
  KeptOriginal class_;
  std::vector<std::pair<std::string, KeptOriginal>> methods_;
};

}  // namespace speech::pyutil
