#pragma once
// Storage for the signals that a recording's segment records keep: blocks
// carved from large anonymous mappings (advised for huge pages). Every kept
// signal of a recording has one length, so the blocks are of one size; a
// block whose signal is dropped (no embedding, a merged pair's members)
// goes back to the pool for the next window. Kept signals thus neither
// fragment the heap between a window's short-lived buffers nor cost a page
// fault per 4 KiB, and memory follows what the records hold.
//
// A block keeps its pool and its mapping alive, so signals may outlive the
// recording that made them. Not thread-safe: blocks are taken and given
// back on one thread (the interpreter's, which frees the arrays).
#include <cstddef>
#include <memory>
#include <vector>

namespace speech::css {

class SignalPool : public std::enable_shared_from_this<SignalPool> {
  struct Mapping;
  struct Block {
    std::shared_ptr<Mapping> mapping;
    char* data = nullptr;
  };

 public:
  // One block; it returns to its pool when destroyed.
  class Buffer {
   public:
    Buffer(std::shared_ptr<SignalPool> pool, Block block) : pool_(std::move(pool)), block_(std::move(block)) {}
    ~Buffer() { pool_->give_back(std::move(block_)); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    // 64-byte aligned, uninitialised.
    char* data() const { return block_.data; }

   private:
    std::shared_ptr<SignalPool> pool_;
    Block block_;
  };

  // Pools live in shared_ptrs only (their buffers hold them); the token
  // keeps the constructor out of other hands while make_shared can call it.
  class Token {
    friend class SignalPool;
    Token() = default;
  };
  explicit SignalPool(Token) {}
  static std::shared_ptr<SignalPool> create() { return std::make_shared<SignalPool>(Token{}); }

  // A block of `bytes` bytes. The first size asked for fixes the pool's
  // block size; any other size, and zero, gets none (the caller allocates
  // it the ordinary way).
  std::unique_ptr<Buffer> take(size_t bytes);

  size_t block_bytes() const { return block_bytes_; }
  size_t free_blocks() const { return free_.size(); }

  static constexpr size_t kAlign = 64;
  static constexpr size_t kMappingBytes = size_t{8} << 20;

 private:
  struct Mapping {
    void* address = nullptr;
    size_t bytes = 0;
    Mapping(void* address, size_t bytes) : address(address), bytes(bytes) {}
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    ~Mapping();
  };

  static size_t round_up(size_t bytes) { return (bytes + kAlign - 1) / kAlign * kAlign; }
  Block next_block();
  void give_back(Block block) { free_.push_back(std::move(block)); }
  void new_mapping();

  size_t block_bytes_ = 0;
  std::shared_ptr<Mapping> current_;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::vector<Block> free_;
};

}  // namespace speech::css
