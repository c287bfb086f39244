// SizeClassPool: blocks reused while the library frees, chunks given back
// while draining.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "html/arena.h"

namespace glintmark::html {
namespace {

TEST(SizeClassPool, ReusesAFreedBlockOfTheSameSize) {
  SizeClassPool pool;
  void* first = pool.allocate(40);
  pool.release(first);
  EXPECT_EQ(pool.allocate(33), first);
  EXPECT_NE(pool.allocate(40), first);
}

TEST(SizeClassPool, DrainingGivesEachChunkBackWithItsLastBlock) {
  SizeClassPool pool;
  std::vector<char*> blocks;
  // Small blocks over several chunks, a large one in a chunk of its own, and
  // freed blocks left on the lists.
  for (int i = 0; i < 20000; ++i) {
    blocks.push_back(static_cast<char*>(pool.allocate(24 + i % 100)));
    std::memset(blocks.back(), 'a' + i % 26, 24);
    if (i % 3 == 0) pool.release(pool.allocate(64));
  }
  char* large = static_cast<char*>(pool.allocate(300000));
  std::memset(large, 'L', 300000);
  const std::size_t full = pool.reserved();
  pool.drain();
  EXPECT_LE(pool.reserved(), full);

  pool.release(large);
  const std::size_t small = pool.reserved();
  EXPECT_LT(small, full - 300000);
  // The first half released: the early chunks go, the blocks left keep
  // their contents.
  for (std::size_t i = 0; i < blocks.size() / 2; ++i) pool.release(blocks[i]);
  EXPECT_LT(pool.reserved(), small);
  for (std::size_t i = blocks.size() / 2; i < blocks.size(); ++i) {
    ASSERT_EQ(blocks[i][23], static_cast<char>('a' + i % 26)) << "block " << i;
  }
  for (std::size_t i = blocks.size() / 2; i < blocks.size(); ++i) pool.release(blocks[i]);
  EXPECT_EQ(pool.reserved(), 0u);
}

TEST(SizeClassPool, DrainingIntoAnArenaHandsItTheChunksToFill) {
  SizeClassPool pool;
  std::vector<void*> blocks;
  for (int i = 0; i < 300; ++i) blocks.push_back(pool.allocate(1000));
  const auto* low = static_cast<const std::byte*>(blocks.front());
  const auto* high = static_cast<const std::byte*>(blocks.back());
  Arena arena;
  pool.drain(&arena);
  for (void* block : blocks) pool.release(block);
  EXPECT_EQ(pool.reserved(), 0u);
  // The arena's first block lies in one of the pool's chunks, not a new one.
  const auto* first = static_cast<const std::byte*>(arena.allocate(100));
  EXPECT_TRUE(first >= low - 64 * 1024 && first <= high + 64 * 1024);
}

}  // namespace
}  // namespace glintmark::html
