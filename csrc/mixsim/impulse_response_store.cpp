#include "mixsim/impulse_response_store.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "mixsim/fft_convolution.h"
#include "mixsim/real_fft.h"

namespace speech::mixsim {

ImpulseResponseSpectra::ImpulseResponseSpectra(common::SampleView<const float> h) {
  if (h.empty()) throw std::invalid_argument("ImpulseResponseSpectra: empty impulse response");
  samples_.resize(static_cast<size_t>(h.size()));
  common::copy_samples(h, samples_.data());
}

bool ImpulseResponseSpectra::holds(common::SampleView<const float> h) const {
  return h.size() == size() &&
         std::memcmp(h.contiguous_data(), samples_.data(), static_cast<size_t>(h.size()) * sizeof(float)) == 0;
}

const std::vector<std::complex<float>>& ImpulseResponseSpectra::spectrum(int64_t nfft) {
  auto found = spectra_.find(nfft);
  if (found != spectra_.end()) return found->second;
  const RealFft<float> fft = RealFft<float>::of_length(nfft);
  const std::complex<float>* bins = fft.forward(common::samples_of(samples_));
  return spectra_.emplace(nfft, std::vector<std::complex<float>>(bins, bins + fft.bins())).first->second;
}

void ImpulseResponseSpectra::convolve_into(common::SampleView<const float> signal, float* out, int64_t keep) {
  const int64_t n = signal.size();
  const int64_t m = size();
  if (n < 1) throw std::invalid_argument("ImpulseResponseSpectra::convolve_into: empty signal");
  if (keep < 0 || keep > n + m - 1) {
    throw std::invalid_argument("ImpulseResponseSpectra::convolve_into: more samples than the convolution");
  }
  const RealFft<float> fft = RealFft<float>::of_length(transform_length(n + m - 1));
  const std::vector<std::complex<float>>* ir_spectrum = nullptr;
  {
    // Only the lookup is locked: a spectrum, once made, never moves.
    const std::lock_guard<std::mutex> lock(mutex_);
    ir_spectrum = &spectrum(fft.size());
  }
  std::complex<float>* bins = fft.forward(signal);
  multiply_spectra(bins, ir_spectrum->data(), fft.bins());
  fft.inverse(bins, out, keep);
}

size_t ImpulseResponseSpectra::bytes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  size_t total = samples_.size() * sizeof(float);
  for (const auto& [nfft, bins] : spectra_) total += bins.size() * sizeof(std::complex<float>);
  return total;
}

void ImpulseResponseStore::convolve_into(common::SampleView<const float> h, common::SampleView<const float> signal, float* out,
                                         int64_t keep) {
  const std::shared_ptr<ImpulseResponseSpectra> spectra = spectra_for(h);
  spectra->convolve_into(signal, out, keep);
  account(h.data(), spectra);
}

std::shared_ptr<ImpulseResponseSpectra> ImpulseResponseStore::spectra_for(common::SampleView<const float> h) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = index_.find(h.data());
  if (found != index_.end()) {
    const auto entry = found->second;
    if (entry->spectra->holds(h)) {
      kept_.splice(kept_.begin(), kept_, entry);
      return entry->spectra;
    }
    forget(entry);
  }
  auto spectra = std::make_shared<ImpulseResponseSpectra>(h);
  kept_.push_front({h.data(), spectra, spectra->bytes()});
  index_[h.data()] = kept_.begin();
  bytes_ += kept_.front().bytes;
  return spectra;
}

void ImpulseResponseStore::account(const float* h, const std::shared_ptr<ImpulseResponseSpectra>& spectra) {
  const size_t now = spectra->bytes();
  const std::lock_guard<std::mutex> lock(mutex_);
  const auto found = index_.find(h);
  if (found != index_.end() && found->second->spectra == spectra) {
    bytes_ += now - found->second->bytes;
    found->second->bytes = now;
  }
  // The response just used stays, whatever its size.
  while (bytes_ > budget_ && kept_.size() > 1) forget(std::prev(kept_.end()));
}

void ImpulseResponseStore::forget(std::list<Kept>::iterator entry) {
  bytes_ -= entry->bytes;
  index_.erase(entry->where);
  kept_.erase(entry);
}

size_t ImpulseResponseStore::bytes() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

size_t ImpulseResponseStore::responses() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return kept_.size();
}

ImpulseResponseStore& process_impulse_responses() {
  static ImpulseResponseStore store(size_t{256} << 20);
  return store;
}

}  // namespace speech::mixsim
