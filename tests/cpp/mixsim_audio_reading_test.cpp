// What the whole-file reader of the training stream accepts.
#include <gtest/gtest.h>

#include <string>

#include "common/errors.h"
#include "mixsim/audio_reading.h"

namespace speech::mixsim {
namespace {

TEST(AudioReading, FourSampleTypes) {
  EXPECT_EQ(sample_type_named("float32"), SampleType::kFloat32);
  EXPECT_EQ(sample_type_named("float64"), SampleType::kFloat64);
  EXPECT_EQ(sample_type_named("int16"), SampleType::kInt16);
  EXPECT_EQ(sample_type_named("int32"), SampleType::kInt32);
  try {
    sample_type_named("int8");
    FAIL() << "int8 was accepted";
  } catch (const common::ValueError& e) {
    EXPECT_STREQ(e.what(), "dtype must be one of ['float32', 'float64', 'int16', 'int32'] and not 'int8'");
  }
}

TEST(AudioReading, RawFilesNeedTheirFormatGiven) {
  for (const char* ext : {".raw", ".RAW", ".Raw"}) EXPECT_THROW(check_readable_unaided(ext), common::TypeError) << ext;
  for (const char* ext : {"", ".wav", ".raw2", "raw"}) EXPECT_NO_THROW(check_readable_unaided(ext)) << ext;
}

}  // namespace
}  // namespace speech::mixsim
