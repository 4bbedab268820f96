#pragma once
// Whether calling a torch.nn.Module runs its forward and nothing beside it.
// A hook (before or after the forward, for the backward; on one module or
// registered for every module) may read or replace what a call takes and
// gives, so a road that reaches a module's result without calling it gives
// that result only where none is registered. The tables are read by name at
// call time; one that this torch version lacks holds nothing.
#include <pybind11/pybind11.h>

#include <initializer_list>

namespace speech::pyutil {

inline bool any_registered(const pybind11::handle& owner, std::initializer_list<const char*> tables) {
  for (const char* name : tables) {
    const pybind11::object table = pybind11::getattr(owner, name, pybind11::none());
    if (!table.is_none() && pybind11::len(table) > 0) return true;
  }
  return false;
}

inline bool has_own_hooks(const pybind11::handle& module) {
  return any_registered(module, {"_forward_hooks", "_forward_pre_hooks", "_backward_hooks", "_backward_pre_hooks"});
}

inline bool has_global_module_hooks() {
  return any_registered(pybind11::module_::import("torch.nn.modules.module"),
                        {"_global_forward_hooks", "_global_forward_pre_hooks", "_global_backward_hooks",
                         "_global_backward_pre_hooks"});
}

}  // namespace speech::pyutil
