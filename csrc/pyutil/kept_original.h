#pragma once
// A package's own collaborator (a function, a method, a class), noted when
// the module is made. While a step still reaches that very object it may
// take a faster road that gives the same result; once a test or a user has
// put something else in its place, the step calls what is there now, as the
// step is defined.
#include <pybind11/pybind11.h>

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

}  // namespace speech::pyutil
