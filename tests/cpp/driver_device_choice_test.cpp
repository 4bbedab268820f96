#include "driver/device_choice.h"

#include <gtest/gtest.h>

namespace speech::driver {
namespace {

TEST(DeviceChoice, OnlyACudaTextAsksForCuda) {
  for (const char* text : {"cuda", "cuda:1", "cudax"}) EXPECT_TRUE(names_cuda_device(text)) << text;
  for (const char* text : {"cpu", "CUDA", " cuda", "gpu", ""}) EXPECT_FALSE(names_cuda_device(text)) << text;
}

}  // namespace
}  // namespace speech::driver
