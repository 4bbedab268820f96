#pragma once
// NumPy arrays over the blocks of the recording's signal pool: the array's
// base is a capsule that owns the block, so freeing the array (a dropped
// signal, a merged pair's members, a discarded record) hands the block back.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>

#include "common/sample_view.h"
#include "css/signal_pool.h"

namespace speech::css_binding {

// A new, uninitialised array of `length` samples of T; an ordinary one
// where the pool has no block of that size.
template <typename T>
pybind11::array_t<T> pooled_array(css::SignalPool& pool, int64_t length) {
  namespace py = pybind11;
  std::unique_ptr<css::SignalPool::Buffer> buffer = pool.take(static_cast<size_t>(length) * sizeof(T));
  if (!buffer) return py::array_t<T>(static_cast<py::ssize_t>(length));
  T* data = reinterpret_cast<T*>(buffer->data());
  py::capsule base(buffer.get(), [](void* p) {
    const std::unique_ptr<css::SignalPool::Buffer> done(static_cast<css::SignalPool::Buffer*>(p));
  });
  buffer.release();  // the capsule owns it now
  return py::array_t<T>({static_cast<py::ssize_t>(length)}, {static_cast<py::ssize_t>(sizeof(T))}, data, base);
}

// A pooled copy of the samples.
template <typename T>
pybind11::array_t<T> pooled_copy(css::SignalPool& pool, common::SampleView<const T> samples) {
  pybind11::array_t<T> out = pooled_array<T>(pool, samples.size());
  common::copy_samples(samples, out.mutable_data());
  return out;
}

}  // namespace speech::css_binding
