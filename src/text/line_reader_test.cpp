#include "text/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

namespace tavrin {
namespace {

// Hands out its bytes a few at a time, so lines straddle reads.
class StringFile : public ReadableFile {
 public:
  StringFile(std::string bytes, std::size_t step) : bytes_(std::move(bytes)), step_(step) {}
  long long Read(char* buffer, std::size_t size) override {
    std::size_t n = std::min({size, step_, bytes_.size() - at_});
    std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    return static_cast<long long>(n);
  }

 private:
  std::string bytes_;
  std::size_t step_;
  std::size_t at_ = 0;
};

std::vector<std::string> Lines(const std::string& bytes, std::size_t step = 3) {
  LineReader reader(std::make_unique<StringFile>(bytes, step));
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(&line)) lines.emplace_back(line);
  return lines;
}

using V = std::vector<std::string>;

TEST(LineReader, LineEndsAreLfOrCrLfAndOtherCrsStay) {
  EXPECT_EQ(Lines(""), V{});
  EXPECT_EQ(Lines("\n"), V{""});
  EXPECT_EQ(Lines("a\nb"), (V{"a", "b"}));
  EXPECT_EQ(Lines("a\r\nb\r\n"), (V{"a", "b"}));
  EXPECT_EQ(Lines("a\rb\r\r\n\r"), (V{"a\rb\r", "\r"}));
  EXPECT_EQ(Lines("\r\n\r\n"), (V{"", ""}));
  std::string long_line(100000, 'x');
  EXPECT_EQ(Lines(long_line + "\r\nend", 4096), (V{long_line, "end"}));
}

// Blocks of `block` bytes that never move, `limit` of them at most; records
// the bytes each reader marked used.
class BlockStorage : public LineStorage {
 public:
  BlockStorage(std::size_t block, int limit) : block_(block), limit_(limit) {}
  std::span<char> Room(std::size_t bytes) override {
    if (blocks_.empty() || blocks_.back().size() - used_ < bytes) {
      if (static_cast<int>(blocks_.size()) == limit_) return {};
      blocks_.emplace_back(std::max(bytes, block_), '?');
      used_ = 0;
    }
    room_ = used_;
    return {blocks_.back().data() + used_, blocks_.back().size() - used_};
  }
  void Used(std::size_t bytes) override { used_ = room_ + bytes; }

  bool Holds(std::string_view text) const {
    const std::less_equal<const char*> before;
    for (const std::vector<char>& block : blocks_)
      if (before(block.data(), text.data()) &&
          before(text.data() + text.size(), block.data() + block.size()))
        return true;
    return false;
  }

 private:
  std::size_t block_;
  int limit_;
  std::vector<std::vector<char>> blocks_;  // a block's bytes never move
  std::size_t used_ = 0;                   // of the last block
  std::size_t room_ = 0;                   // where the last room began
};

// The lines of each file read one after the other into `storage`: every
// view into the storage kept until all are read, and compared then.
std::vector<std::string> LinesKeptIn(BlockStorage& storage, const std::vector<std::string>& files,
                                     std::size_t step, std::size_t* in_storage = nullptr) {
  std::vector<std::string_view> views;  // empty for a line read outside the storage
  std::vector<std::string> lines;
  for (const std::string& bytes : files) {
    LineReader reader(std::make_unique<StringFile>(bytes, step), storage);
    std::string_view line;
    while (reader.Next(&line)) {
      lines.emplace_back(line);
      views.push_back(line.empty() || storage.Holds(line) ? line : std::string_view());
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < views.size(); ++i) {
    if (views[i].data() == nullptr && !lines[i].empty()) continue;
    ++kept;
    if (views[i] != lines[i]) lines[i] = "(overwritten)";
  }
  if (in_storage) *in_storage = kept;
  return lines;
}

TEST(LineReader, LinesReadIntoAStorageStayWhereTheyAreAfterEveryLaterRead) {
  const std::string long_line(70000, 'y');
  const std::vector<std::string> files = {"a\r\nbb\nccc", "", "\n\r\n" + long_line + "\nd",
                                          long_line + "\r\n" + long_line};
  V expected;
  for (const std::string& bytes : files)
    for (const std::string& line : Lines(bytes)) expected.push_back(line);
  // Blocks smaller and larger than a line; reads of a few bytes and of many.
  for (std::size_t block : {1u, 100u, 20000u, 1u << 20}) {
    for (std::size_t step : {3u, 4096u, 1u << 20}) {
      BlockStorage storage(block, 1000);
      EXPECT_EQ(LinesKeptIn(storage, files, step), expected) << block << " " << step;
    }
  }
}

TEST(LineReader, StorageThatRunsOutLeavesTheRestToTheReadersOwnBuffer) {
  std::string bytes;
  V expected;
  for (int i = 0; i < 20000; ++i) {
    expected.push_back("line " + std::to_string(i));
    bytes += expected.back() + "\r\n";
  }
  BlockStorage storage(64 << 10, 2);
  std::size_t in_storage = 0;
  const V lines = LinesKeptIn(storage, {bytes, "tail\n"}, 5000, &in_storage);
  expected.push_back("tail");
  // Every line is read once and whole; the ones in the storage stayed put.
  EXPECT_EQ(lines, expected);
  EXPECT_GT(in_storage, 5000u);
  EXPECT_LT(in_storage, 20000u);
  V all;
  LineReader again(std::make_unique<StringFile>(bytes, 5000), storage);
  std::string_view line;
  while (again.Next(&line)) all.emplace_back(line);
  EXPECT_EQ(all, V(expected.begin(), expected.end() - 1));
}

}  // namespace
}  // namespace tavrin
