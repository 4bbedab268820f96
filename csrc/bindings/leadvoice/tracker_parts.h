#pragma once
// The SpeakerTracker class is assembled from several binding files, one per
// concern of the core.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "pyutil/plain_class.h"
#include "tracker/embedding_math.h"

namespace speech {

void define_embedding_extraction(pyutil::PlainClass& cls);
void define_speaker_matching(pyutil::PlainClass& cls);
void define_embedding_update(pyutil::PlainClass& cls);

// An embedding (any numeric array-like) flattened to doubles in C order.
tracker::Vector embedding_values(const pybind11::handle& embedding);

// A new array holding `values`, shaped like `like` when sizes agree, in the
// floating dtype `dtype`.
pybind11::array embedding_array(const tracker::Vector& values, const pybind11::handle& like,
                                const pybind11::dtype& dtype);

// None, or an embedding holding a nan or an infinity: such a vector must never
// enter the global speaker store.
bool is_usable_embedding(const pybind11::handle& embedding);

// Creates a speaker from `embedding` (the object itself) and returns its id.
pybind11::object create_speaker(const pybind11::handle& self, const pybind11::handle& embedding);

}  // namespace speech
