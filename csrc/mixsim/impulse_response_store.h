#pragma once
// An impulse response kept with its spectrum at every transform length it
// has been convolved at. The training stream convolves each source with an
// impulse response from its cache, at the one length a segment needs:
// transforming the response again for every source would be a third of
// the work of each convolution.
#include <complex>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "common/sample_view.h"

namespace speech::mixsim {

class ImpulseResponseSpectra {
 public:
  // Keeps a copy of h, at least one sample.
  explicit ImpulseResponseSpectra(common::SampleView<const float> h);

  int64_t size() const { return static_cast<int64_t>(samples_.size()); }

  // Whether h (side by side) holds the samples this was made from: a
  // response changed in place needs new spectra.
  bool holds(common::SampleView<const float> h) const;

  // The first `keep` samples of the convolution of the signal (at least one
  // sample, side by side) with the response, equal bit for bit to
  // convolve_into of the two. Thread-safe.
  void convolve_into(common::SampleView<const float> signal, float* out, int64_t keep);

  // Memory held by the samples and the spectra made so far.
  size_t bytes() const;

 private:
  const std::vector<std::complex<float>>& spectrum(int64_t nfft);

  std::vector<float> samples_;
  mutable std::mutex mutex_;
  std::map<int64_t, std::vector<std::complex<float>>> spectra_;
};

// The spectra of the impulse responses a process convolves with, found by
// where their samples lie and checked against the samples themselves, so a
// response's spectra are made once however often it is used, and a buffer
// reused for other samples gets new ones. Least recently used responses are
// dropped beyond a memory budget: a spectrum is several times the size of
// its response, and an impulse-response corpus may hold tens of thousands.
class ImpulseResponseStore {
 public:
  explicit ImpulseResponseStore(size_t budget_bytes) : budget_(budget_bytes) {}

  // The first `keep` samples of the convolution of the signal with h (both
  // non-empty, side by side), bit for bit as convolve_into gives them.
  // Thread-safe.
  void convolve_into(common::SampleView<const float> h, common::SampleView<const float> signal, float* out, int64_t keep);

  size_t bytes() const;
  size_t responses() const;

 private:
  struct Kept {
    const float* where;
    std::shared_ptr<ImpulseResponseSpectra> spectra;
    size_t bytes;
  };
  std::shared_ptr<ImpulseResponseSpectra> spectra_for(common::SampleView<const float> h);
  void account(const float* h, const std::shared_ptr<ImpulseResponseSpectra>& spectra);
  void forget(std::list<Kept>::iterator entry);

  size_t budget_;
  size_t bytes_ = 0;
  mutable std::mutex mutex_;
  std::list<Kept> kept_;  // most recently used first
  std::unordered_map<const float*, std::list<Kept>::iterator> index_;
};

// The store of this process, with a budget of 256 MiB.
ImpulseResponseStore& process_impulse_responses();

}  // namespace speech::mixsim
