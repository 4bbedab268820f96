#include "css/signal_pool.h"

#include <sys/mman.h>

#include <algorithm>
#include <new>

namespace speech::css {

SignalPool::Mapping::~Mapping() { munmap(address, bytes); }

std::unique_ptr<SignalPool::Buffer> SignalPool::take(size_t bytes) {
  const size_t rounded = round_up(bytes);
  if (block_bytes_ == 0) block_bytes_ = rounded;
  if (rounded == 0 || rounded != block_bytes_) return nullptr;
  return std::make_unique<Buffer>(shared_from_this(), next_block());
}

SignalPool::Block SignalPool::next_block() {
  if (!free_.empty()) {
    Block block = std::move(free_.back());
    free_.pop_back();
    return block;
  }
  if (!current_ || next_ + block_bytes_ > end_) new_mapping();
  Block block{current_, next_};
  next_ += block_bytes_;
  return block;
}

void SignalPool::new_mapping() {
  const size_t bytes = std::max(kMappingBytes, block_bytes_);
  void* address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (address == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(address, bytes, MADV_HUGEPAGE);  // advice only: a refusal changes nothing
#endif
  current_ = std::make_shared<Mapping>(address, bytes);
  next_ = static_cast<char*>(address);
  end_ = next_ + bytes;
}

}  // namespace speech::css
