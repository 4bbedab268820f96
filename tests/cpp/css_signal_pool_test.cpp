#include "css/signal_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

namespace speech::css {
namespace {

bool aligned(const char* p) { return reinterpret_cast<uintptr_t>(p) % SignalPool::kAlign == 0; }

TEST(CssSignalPoolTest, FirstSizeFixesTheBlockSize) {
  const auto pool = SignalPool::create();
  EXPECT_EQ(pool->take(0), nullptr);  // zero fixes nothing
  const auto first = pool->take(1000);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pool->block_bytes(), 1024u);  // rounded to the alignment
  EXPECT_NE(pool->take(1010), nullptr);   // rounds to the same block
  EXPECT_EQ(pool->take(2000), nullptr);
  EXPECT_EQ(pool->take(100), nullptr);
}

TEST(CssSignalPoolTest, FreedBlocksAreReusedAndLiveOnesNeverShared) {
  const auto pool = SignalPool::create();
  std::vector<std::unique_ptr<SignalPool::Buffer>> live;
  std::set<const char*> seen;
  for (int i = 0; i < 5; ++i) {
    live.push_back(pool->take(4096));
    ASSERT_TRUE(aligned(live.back()->data()));
    EXPECT_TRUE(seen.insert(live.back()->data()).second);
    std::memset(live.back()->data(), i, 4096);
  }
  const char* freed = live[2]->data();
  live.erase(live.begin() + 2);
  EXPECT_EQ(pool->free_blocks(), 1u);
  const auto again = pool->take(4096);
  EXPECT_EQ(again->data(), freed);
  EXPECT_EQ(pool->free_blocks(), 0u);
  // The others kept their contents.
  EXPECT_EQ(live[2]->data()[4095], 3);
}

// Blocks that do not fit the current mapping come from a new one; a block
// larger than a whole mapping gets a mapping of its own.
TEST(CssSignalPoolTest, MappingsGrowWithTheBlocks) {
  const auto pool = SignalPool::create();
  const size_t third = SignalPool::kMappingBytes / 3 + SignalPool::kAlign;
  std::vector<std::unique_ptr<SignalPool::Buffer>> blocks;
  for (int i = 0; i < 7; ++i) {
    blocks.push_back(pool->take(third));
    std::memset(blocks.back()->data(), 0x5a, third);
  }
  std::set<const char*> starts;
  for (const auto& b : blocks) starts.insert(b->data());
  EXPECT_EQ(starts.size(), blocks.size());

  const auto big = SignalPool::create();
  const size_t huge = 2 * SignalPool::kMappingBytes;
  const auto block = big->take(huge);
  ASSERT_NE(block, nullptr);
  std::memset(block->data(), 1, huge);
}

TEST(CssSignalPoolTest, BlocksKeepTheirPoolAlive) {
  auto pool = SignalPool::create();
  std::unique_ptr<SignalPool::Buffer> block = pool->take(256);
  const std::weak_ptr<SignalPool> watch = pool;
  pool.reset();
  EXPECT_FALSE(watch.expired());
  std::memset(block->data(), 7, 256);
  block.reset();
  EXPECT_TRUE(watch.expired());
}

}  // namespace
}  // namespace speech::css
