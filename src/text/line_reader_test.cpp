#include "text/line_reader.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
}  // namespace tavrin
