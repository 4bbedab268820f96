#include "common/wav_io.h"

#include <sndfile.h>
#include <sys/stat.h>

#include <memory>

#include "common/errors.h"
#include "common/sibling_temporary.h"

namespace speech::common {

void SndfileCloser::operator()(SNDFILE* file) const {
  if (file != nullptr) sf_close(file);
}

namespace {

using SndfilePtr = std::unique_ptr<SNDFILE, SndfileCloser>;

SF_INFO wav_info(int channels, int sample_rate, WavSubtype subtype) {
  if (channels <= 0) throw ValueError("audio must have at least one channel");
  if (sample_rate <= 0) throw ValueError("sample rate must be positive");
  SF_INFO info{};
  info.samplerate = sample_rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | (subtype == WavSubtype::kPcm16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
  return info;
}

// `path` names the file in errors; `file` may be open on another name.
template <typename Write, typename T>
void write_frames(SNDFILE* file, const std::string& path, const T* samples, int64_t frames, Write write) {
  if (!file) throw SndfileError("opening", path, sf_strerror(nullptr));
  sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  const sf_count_t written = write(file, samples, static_cast<sf_count_t>(frames));
  if (written != frames) {
    throw SndfileError("writing", path, sf_strerror(file));
  }
}

// libsndfile rewrites the header when it closes a file, and a full disk can
// refuse that last write: the close is checked too.
template <typename Write, typename T>
void write_whole(const std::string& path, const T* samples, int64_t frames, int channels,
                 int sample_rate, WavSubtype subtype, Write write) {
  SF_INFO info = wav_info(channels, sample_rate, subtype);
  SiblingTemporary temporary(path);
  SndfilePtr file(sf_open_fd(temporary.fd(), SFM_WRITE, &info, SF_FALSE));
  write_frames(file.get(), path, samples, frames, write);
  const int closed = sf_close(file.release());
  if (closed != SF_ERR_NO_ERROR) throw SndfileError("writing", path, sf_error_number(closed));
  temporary.commit();
}

// libsndfile opens whatever the path names, and opening a FIFO without a
// writer, or reading a terminal or a socket, blocks for ever. Only regular
// files (links followed) are opened; a missing path and a directory are
// left to libsndfile, which refuses them in its own words without blocking.
const char* refusal_of_special_file(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return nullptr;
  return "Not a regular file.";
}

}  // namespace

void write_wav(const std::string& path, const float* samples, int64_t frames, int channels,
               int sample_rate, WavSubtype subtype) {
  write_whole(path, samples, frames, channels, sample_rate, subtype, sf_writef_float);
}

void write_wav(const std::string& path, const double* samples, int64_t frames, int channels,
               int sample_rate, WavSubtype subtype) {
  write_whole(path, samples, frames, channels, sample_rate, subtype, sf_writef_double);
}

AudioData read_audio(const std::string& path) {
  if (const char* refusal = refusal_of_special_file(path)) throw SndfileError("opening", path, refusal);
  SF_INFO info{};
  SndfilePtr file(sf_open(path.c_str(), SFM_READ, &info));
  if (!file) throw SndfileError("opening", path, sf_strerror(nullptr));
  AudioData audio;
  audio.frames = info.frames;
  audio.channels = info.channels;
  audio.sample_rate = info.samplerate;
  audio.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  const sf_count_t got = sf_readf_double(file.get(), audio.samples.data(), info.frames);
  if (got < 0) throw SndfileError("reading", path, sf_strerror(file.get()));
  audio.frames = got;
  audio.samples.resize(static_cast<size_t>(got) * static_cast<size_t>(info.channels));
  return audio;
}

namespace {

template <typename T, typename Read>
int64_t checked_read(SNDFILE* file, const std::string& path, T* out, int64_t frames, Read read) {
  const sf_count_t got = read(file, out, static_cast<sf_count_t>(frames));
  const int code = sf_error(file);
  if (code != SF_ERR_NO_ERROR) throw SndfileError("reading", path, sf_error_number(code));
  return got < 0 ? 0 : static_cast<int64_t>(got);
}

}  // namespace

AudioFileReader::AudioFileReader(const std::string& path) : path_(path) {
  if (const char* refusal = refusal_of_special_file(path)) throw SndfileError("opening", path, refusal);
  SF_INFO info{};
  file_.reset(sf_open(path.c_str(), SFM_READ, &info));
  // The error code, not sf_strerror: its text is the one the Python binding
  // of libsndfile reports, without the system's own wording appended.
  if (!file_) throw SndfileError("opening", path, sf_error_number(sf_error(nullptr)));
  // Float samples read as integers saturate instead of wrapping around.
  sf_command(file_.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
  frames_ = info.frames;
  channels_ = info.channels;
  sample_rate_ = info.samplerate;
  format_ = info.format;
}

void AudioFileReader::seek(int64_t frame) {
  if (sf_seek(file_.get(), static_cast<sf_count_t>(frame), SEEK_SET) < 0) {
    throw SndfileError("seeking", path_, sf_error_number(sf_error(file_.get())));
  }
}

int64_t AudioFileReader::read(float* out, int64_t frames) {
  return checked_read(file_.get(), path_, out, frames, sf_readf_float);
}
int64_t AudioFileReader::read(double* out, int64_t frames) {
  return checked_read(file_.get(), path_, out, frames, sf_readf_double);
}
int64_t AudioFileReader::read(int16_t* out, int64_t frames) {
  return checked_read(file_.get(), path_, out, frames, sf_readf_short);
}
int64_t AudioFileReader::read(int32_t* out, int64_t frames) {
  return checked_read(file_.get(), path_, out, frames, sf_readf_int);
}

}  // namespace speech::common
