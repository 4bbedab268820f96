#include "driver/device_choice.h"

namespace speech::driver {

bool names_cuda_device(const std::string& device_text) { return device_text.rfind("cuda", 0) == 0; }

}  // namespace speech::driver
