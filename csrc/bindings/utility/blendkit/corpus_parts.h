#pragma once
// The corpus indexers, bound one by one into the package by
// bind_corpus_index in the module's order.
#include <pybind11/pybind11.h>

#include "bindings/utility/blendkit/package_lookup.h"

namespace speech::corpus {

pybind11::list collect_files(const pybind11::object& patterns);
pybind11::dict collect_rir_hierarchy(const pybind11::object& patterns, const pybind11::object& exts);
pybind11::dict find_audio_files_by_speaker(const pybind11::object& root, const pybind11::object& exts);
pybind11::dict combine_speaker_mappings(const pybind11::object& mappings, const pybind11::object& strategy);

}  // namespace speech::corpus
