#pragma once
// What the processor offers beyond the x86-64 baseline the project is built
// for. Loops that have an AVX2 form check this once and fall back to their
// plain form, which must give the same values, on older processors.
namespace speech::common {

inline bool cpu_has_avx2() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}

}  // namespace speech::common
