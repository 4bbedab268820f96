#pragma once
// The device both drivers choose once per run.
#include <pybind11/pybind11.h>

#include <string>

namespace speech {

// torch.device(requested) when it names a CUDA device and the package's
// torch has CUDA; else `fallback_line` is printed and the CPU comes back.
pybind11::object choose_device(const char* package, const pybind11::object& requested,
                               const std::string& fallback_line);

}  // namespace speech
