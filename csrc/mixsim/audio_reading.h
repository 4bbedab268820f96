#pragma once
// What the training stream's whole-file reader accepts: the sample types it
// reads into, the files it can open unaided, and what a failed read stands
// for.
#include <string>
#include <string_view>

namespace speech::mixsim {

// A file that cannot be read is an empty signal at this rate.
constexpr int kFailedReadRate = 16000;

enum class SampleType { kFloat32, kFloat64, kInt16, kInt32 };

// The type a dtype name ("float32", ...) names; ValueError for any other.
SampleType sample_type_named(const std::string& dtype_name);

// A raw file carries no header, so nothing about it can be read unaided:
// TypeError for the extension ".raw" in any letter case.
void check_readable_unaided(std::string_view extension);

}  // namespace speech::mixsim
