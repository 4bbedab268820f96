#include "mixsim/audio_reading.h"

#include <cctype>

#include "common/errors.h"

namespace speech::mixsim {

SampleType sample_type_named(const std::string& dtype_name) {
  if (dtype_name == "float32") return SampleType::kFloat32;
  if (dtype_name == "float64") return SampleType::kFloat64;
  if (dtype_name == "int16") return SampleType::kInt16;
  if (dtype_name == "int32") return SampleType::kInt32;
  throw common::ValueError("dtype must be one of ['float32', 'float64', 'int16', 'int32'] and not '" + dtype_name + "'");
}

void check_readable_unaided(std::string_view extension) {
  std::string upper(extension);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper == ".RAW") throw common::TypeError("samplerate must be specified");
}

}  // namespace speech::mixsim
