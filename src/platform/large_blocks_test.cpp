#include "platform/large_blocks.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace tavrin {
namespace {

// Blocks of sizes that are no multiple of any page come whole, zeroed,
// writable to their last byte, and go back without disturbing each other.
TEST(LargeBlocks, ComeZeroedWholeAndAligned) {
  const std::size_t sizes[] = {kLargeBlockMinimum, kLargeBlockMinimum + 1, (5u << 20) + 123};
  void* blocks[3];
  for (int i = 0; i < 3; ++i) {
    blocks[i] = AllocateLargeBlock(sizes[i]);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(blocks[i]) % 4096, 0u);
    auto* bytes = static_cast<unsigned char*>(blocks[i]);
    for (std::size_t at = 0; at < sizes[i]; at += 4096) ASSERT_EQ(bytes[at], 0) << at;
    EXPECT_EQ(bytes[sizes[i] - 1], 0);
    bytes[0] = bytes[sizes[i] - 1] = static_cast<unsigned char>(i + 1);
  }
  for (int i = 0; i < 3; ++i) {
    auto* bytes = static_cast<unsigned char*>(blocks[i]);
    EXPECT_EQ(bytes[0], i + 1);
    EXPECT_EQ(bytes[sizes[i] - 1], i + 1);
    FreeLargeBlock(blocks[i], sizes[i]);
  }
}

}  // namespace
}  // namespace tavrin
