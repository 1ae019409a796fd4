#include "script/text_arena.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tavrin {
namespace {

// Texts of every size class, from a byte to longer than a block, stay intact
// while blocks grow, fill and are replaced, and again after Clear().
TEST(TextArena, KeepsEveryTextIntactAcrossBlocksAndGroups) {
  TextArena arena;
  for (int group = 0; group < 2; ++group) {
    std::vector<std::string> texts;
    std::vector<std::string_view> stored;
    for (std::size_t size : {1u, 200'000u, 40'000u, 70'000u, 300'000u, 900'000u, 3u, 2'000'000u}) {
      for (int copy = 0; copy < 3; ++copy) {
        texts.push_back(std::string(size, static_cast<char>('a' + texts.size() % 26)));
        stored.push_back(arena.Store(texts.back()));
      }
    }
    for (std::size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(stored[i], texts[i]) << i;
    arena.Clear();
  }
  EXPECT_TRUE(arena.Store("").empty());
}

}  // namespace
}  // namespace tavrin
