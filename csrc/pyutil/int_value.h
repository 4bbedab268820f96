#pragma once
// A number as the interpreter's int() gives it, None kept as nothing: the
// stream's optional counts (samples per epoch, batch size) are read so.
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>

namespace speech::pyutil {

inline std::optional<int64_t> optional_int(const pybind11::handle& value) {
  if (value.is_none()) return std::nullopt;
  return pybind11::cast<int64_t>(pybind11::int_(pybind11::reinterpret_borrow<pybind11::object>(value)));
}

}  // namespace speech::pyutil
