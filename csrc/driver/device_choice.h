#pragma once
// The drivers' device rule: the requested device only when its text names a
// CUDA device and CUDA is available; the CPU otherwise, an explicit "cpu"
// included.
#include <string>

namespace speech::driver {

// Whether the --device text asks for a CUDA device ("cuda", "cuda:1", ...).
bool names_cuda_device(const std::string& device_text);

}  // namespace speech::driver
