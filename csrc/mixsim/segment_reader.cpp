#include "mixsim/segment_reader.h"

#include <algorithm>
#include <vector>

#include "common/errors.h"

namespace speech::mixsim {

SegmentReader::SegmentReader(const std::string& path) : file_(nullptr, sf_close) {
  SF_INFO info{};
  file_.reset(sf_open(path.c_str(), SFM_READ, &info));
  if (!file_) throw OSError(std::string("Error opening ") + path + ": " + sf_strerror(nullptr));
  frames_ = info.frames;
  channels_ = info.channels;
  sample_rate_ = info.samplerate;
  format_ = info.format;
}

bool SegmentReader::seeks_exactly() const {
  const int container = format_ & SF_FORMAT_TYPEMASK;
  const int subtype = format_ & SF_FORMAT_SUBMASK;
  const bool wav = container == SF_FORMAT_WAV || container == SF_FORMAT_WAVEX || container == SF_FORMAT_RF64;
  const bool plain = subtype == SF_FORMAT_PCM_S8 || subtype == SF_FORMAT_PCM_U8 || subtype == SF_FORMAT_PCM_16 ||
                     subtype == SF_FORMAT_PCM_24 || subtype == SF_FORMAT_PCM_32 || subtype == SF_FORMAT_FLOAT ||
                     subtype == SF_FORMAT_DOUBLE;
  return wav && plain && channels_ > 0;
}

void SegmentReader::read_first_channel(int64_t start, int64_t count, float* out) {
  std::fill(out, out + count, 0.0f);
  if (count <= 0) return;
  if (sf_seek(file_.get(), start, SEEK_SET) < 0) {
    throw OSError(std::string("seek failed: ") + sf_strerror(file_.get()));
  }
  sf_count_t got = 0;
  if (channels_ == 1) {
    got = sf_readf_float(file_.get(), out, count);
  } else {
    std::vector<float> frames(static_cast<size_t>(count) * static_cast<size_t>(channels_));
    got = sf_readf_float(file_.get(), frames.data(), count);
    for (sf_count_t i = 0; i < got; ++i) out[i] = frames[static_cast<size_t>(i) * static_cast<size_t>(channels_)];
  }
  if (sf_error(file_.get()) != SF_ERR_NO_ERROR) {
    throw OSError(std::string("read failed: ") + sf_strerror(file_.get()));
  }
  (void)got;
}

}  // namespace speech::mixsim
