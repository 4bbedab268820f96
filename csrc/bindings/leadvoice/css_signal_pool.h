#pragma once
// Storage for the signals that a recording's segment records keep: NumPy
// arrays in blocks of large anonymous mappings (advised for huge pages).
// Every kept signal of a recording has one length, so the blocks are of one
// size; a block whose array is freed (a signal dropped for want of an
// embedding, a merged pair's members) goes back to the pool for the next
// window. Kept signals thus neither fragment the heap between a window's
// short-lived buffers nor cost a page fault per 4 KiB, and memory follows
// what the records hold. Each array keeps its mapping alive; the pool lives
// as long as any of its arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace speech::css_binding {

class SignalPool : public std::enable_shared_from_this<SignalPool> {
 public:
  // Pools live in shared_ptrs only (their arrays hold them); the token keeps
  // the constructor out of other hands while make_shared can still call it.
  class Token {
    friend class SignalPool;
    Token() = default;
  };
  explicit SignalPool(Token) {}
  static std::shared_ptr<SignalPool> create() { return std::make_shared<SignalPool>(Token{}); }

  // A new, uninitialised array of `length` samples of T. Lengths other than
  // the pool's first get an ordinary array.
  template <typename T>
  pybind11::array_t<T> array(int64_t length) {
    const size_t bytes = round_up(static_cast<size_t>(length) * sizeof(T));
    if (block_bytes_ == 0) block_bytes_ = bytes;
    if (bytes != block_bytes_ || bytes == 0) return pybind11::array_t<T>(static_cast<pybind11::ssize_t>(length));
    Block block = take();
    auto owner = std::make_unique<Owner>(Owner{shared_from_this(), block});
    T* data = reinterpret_cast<T*>(block.data);
    pybind11::capsule base(owner.get(), [](void* p) {
      const std::unique_ptr<Owner> done(static_cast<Owner*>(p));
      done->pool->give_back(done->block);
    });
    owner.release();  // the capsule owns it now
    return pybind11::array_t<T>({static_cast<pybind11::ssize_t>(length)}, {static_cast<pybind11::ssize_t>(sizeof(T))},
                                data, base);
  }

 private:
  struct Mapping {
    void* address = nullptr;
    size_t bytes = 0;
    ~Mapping() { munmap(address, bytes); }
  };
  struct Block {
    std::shared_ptr<Mapping> mapping;
    char* data = nullptr;
  };
  struct Owner {
    std::shared_ptr<SignalPool> pool;
    Block block;
  };

  static constexpr size_t kAlign = 64;
  static constexpr size_t kMappingBytes = size_t{8} << 20;


  static size_t round_up(size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }

  Block take() {
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

  void give_back(Block block) { free_.push_back(std::move(block)); }

  void new_mapping() {
    const size_t bytes = std::max(kMappingBytes, block_bytes_);
    void* address = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (address == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    madvise(address, bytes, MADV_HUGEPAGE);  // advice only: a refusal changes nothing
#endif
    current_ = std::make_shared<Mapping>();
    current_->address = address;
    current_->bytes = bytes;
    next_ = static_cast<char*>(address);
    end_ = next_ + bytes;
  }

  size_t block_bytes_ = 0;
  std::shared_ptr<Mapping> current_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::vector<Block> free_;
};

}  // namespace speech::css_binding
