#include "script/text_arena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "text/line_reader.h"

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

class StringFile : public ReadableFile {
 public:
  explicit StringFile(std::string bytes) : bytes_(std::move(bytes)) {}
  long long Read(char* buffer, std::size_t size) override {
    const std::size_t n = std::min(size, bytes_.size() - at_);
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<long long>(n);
  }

 private:
  std::string bytes_;
  std::size_t at_ = 0;
};

// A group's first megabytes are read into the arena and kept there as read;
// past them, and for any text from elsewhere, Store() copies. Either way
// every text stays intact until Clear().
TEST(TextArena, KeepsLinesReadIntoItWithoutACopyUpToItsLimit) {
  TextArena arena;
  for (int group = 0; group < 2; ++group) {
    std::vector<std::string> expected;
    std::vector<std::string_view> stored;
    std::size_t in_place = 0;
    // 3 files of 5 MB: the third goes past the limit.
    for (int file = 0; file < 3; ++file) {
      std::string bytes;
      for (int i = 0; i < 50000; ++i)
        bytes += std::to_string(file) + ":" + std::to_string(i) + std::string(90, 'x') + "\r\n";
      LineReader reader(std::make_unique<StringFile>(bytes), arena);
      std::string_view line;
      while (reader.Next(&line)) {
        expected.emplace_back(line);
        stored.push_back(arena.Store(line));
        in_place += stored.back().data() == line.data();
        // A rewritten text is never kept in place.
        const std::string rewritten = "r" + std::string(line);
        expected.push_back(rewritten);
        stored.push_back(arena.Store(rewritten));
      }
    }
    ASSERT_EQ(stored.size(), expected.size());
    for (std::size_t i = 0; i < stored.size(); ++i) ASSERT_EQ(stored[i], expected[i]) << i;
    EXPECT_GT(in_place, 50000u);
    EXPECT_LT(in_place, 150000u);
    arena.Clear();
  }
}

}  // namespace
}  // namespace tavrin
