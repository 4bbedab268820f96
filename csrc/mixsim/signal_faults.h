#pragma once
// What keeps a signal out of a training sample: a sample that is not a
// finite number turns every batch it reaches into NaN, and a source that is
// silent throughout puts a speaker's label on nothing. Plain checks on
// float32 runs, shared by the utterance, impulse-response, noise and
// finished-sample checks of the stream.
#include <cstdint>
#include <optional>
#include <string>

#include "common/sample_view.h"

namespace speech::mixsim {

struct NonFiniteSample {
  int64_t index = 0;
  float value = 0.0f;
};

// The first NaN or infinity of x, if any.
std::optional<NonFiniteSample> first_non_finite(common::SampleView<const float> x);

// "frame 12 is nan": where the value sits, counted in `unit`s.
std::string describe_non_finite(const NonFiniteSample& sample, const char* unit);

// Whether x holds a sample other than zero.
bool carries_signal(common::SampleView<const float> x);

// An impulse response that is not finite everywhere would make its source
// NaN, and one that is zero throughout would silence it; either counts as
// empty, which leaves the source dry.
struct ImpulseResponseFault {
  bool non_finite = false;  // else silent
  std::string reason;       // for the warning line
};
std::optional<ImpulseResponseFault> impulse_response_fault(common::SampleView<const float> h);

// Resampling refuses a signal with a non-finite sample outright. For a long
// noise only the segments that reach such a sample are unusable, so the
// signal is resampled with those samples zeroed, and NaN is put back at the
// resampled position of each: a segment drawn over one is refused as it
// would be at the file's own rate, and the rest of the noise stays usable.
void zero_non_finite(common::SampleView<float> x);
void restore_non_finite(common::SampleView<const float> original, double orig_sr, double target_sr,
                        common::SampleView<float> resampled);

}  // namespace speech::mixsim
