#include "mixsim/segment_reader.h"

#include <sndfile.h>

#include <algorithm>
#include <vector>

#include "common/errors.h"

namespace speech::mixsim {

bool SegmentReader::seeks_exactly() const {
  const int container = file_.format() & SF_FORMAT_TYPEMASK;
  const int subtype = file_.format() & SF_FORMAT_SUBMASK;
  const bool pcm = subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 ||
                   subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32;
  const bool wav = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
  if (wav) return channels() > 0 && (pcm || subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE);
  // FLAC seeks to the frame holding the sample and decodes up to it. Ogg
  // Vorbis and Opus are not here: their seeks can land on samples that
  // differ from a whole-file read's.
  return container == SF_FORMAT_FLAC && channels() > 0 && pcm;
}

namespace {

constexpr int64_t kScanBlockFrames = 1 << 15;

bool holds_floats(int format) {
  const int subtype = format & SF_FORMAT_SUBMASK;
  return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

}  // namespace

std::optional<NonFiniteSample> SegmentReader::first_non_finite_frame() {
  if (!holds_floats(file_.format())) return std::nullopt;
  std::vector<float> channel(static_cast<size_t>(kScanBlockFrames));
  for (int64_t start = 0; start < frames(); start += kScanBlockFrames) {
    const int64_t count = std::min(kScanBlockFrames, frames() - start);
    read_first_channel(start, count, channel.data());
    if (std::optional<NonFiniteSample> bad = first_non_finite(common::contiguous_samples(channel.data(), count))) {
      bad->index += start;
      return bad;
    }
  }
  return std::nullopt;
}

void SegmentReader::read_first_channel(int64_t start, int64_t count, float* out) {
  std::fill(out, out + count, 0.0f);
  if (count <= 0) return;
  try {
    file_.seek(start);
  } catch (const common::SndfileError& e) {
    throw common::OSError("seek failed: " + e.reason);
  }
  const int channels = this->channels();
  try {
    if (channels == 1) {
      file_.read(out, count);
      return;
    }
    std::vector<float> frames(static_cast<size_t>(count) * static_cast<size_t>(channels));
    const int64_t got = file_.read(frames.data(), count);
    for (int64_t i = 0; i < got; ++i) out[i] = frames[static_cast<size_t>(i) * static_cast<size_t>(channels)];
  } catch (const common::SndfileError& e) {
    throw common::OSError("read failed: " + e.reason);
  }
}

}  // namespace speech::mixsim
