#pragma once
// Storage for the statement texts of one group. A statement never changes
// once filed, and all of them go when the group is written, so they are
// packed into the group's memory instead of one heap block each. The first
// megabytes of the group's input files are read into the same memory, so
// that a line filed as read is kept where it was read, without a copy.

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory_resource>
#include <span>
#include <string_view>

#include "script/group_memory.h"
#include "text/line_reader.h"

namespace tavrin {

class TextArena final : public LineStorage {
 public:
  /// Copies `text` into the arena, unless it was read into the arena's
  /// current input block; the view stays valid until Clear().
  std::string_view Store(std::string_view text) {
    if (text.empty()) return {};
    if (InInput(text)) return text;
    char* at = static_cast<char*>(memory_.allocate(text.size(), 1));
    std::memcpy(at, text.data(), text.size());
    return std::string_view(at, text.size());
  }

  /// The rest of the current input block when it holds `bytes`, else a new
  /// block, or none once the group's input blocks reach kInputLimit. A
  /// LineReader given the arena reads the group's files into it.
  std::span<char> Room(std::size_t bytes) override {
    if (static_cast<std::size_t>(block_end_ - free_) < bytes) {
      if (input_bytes_ >= kInputLimit) return {};
      const std::size_t size = std::max(bytes, kInputBlock);
      block_ = static_cast<char*>(memory_.allocate(size, 1));
      block_end_ = block_ + size;
      free_ = block_;
      input_bytes_ += size;
    }
    room_ = free_;
    return {free_, block_end_};
  }
  void Used(std::size_t bytes) override { free_ = room_ + bytes; }

  /// Drops every text.
  void Clear() {
    memory_.release();
    block_ = block_end_ = free_ = room_ = nullptr;
    input_bytes_ = 0;
  }

 private:
  // Small enough to share the first chunk with the texts of a small group.
  static constexpr std::size_t kInputBlock = 128 << 10;
  // A line that is rewritten or dropped leaves its read bytes unused: up to a
  // third of a big group's input. Past this much input the group's lines are
  // read into a buffer and copied when kept, so that a big group's peak
  // grows by at most this; the small groups of a batch are read whole.
  static constexpr std::size_t kInputLimit = 8 << 20;

  bool InInput(std::string_view text) const {
    const std::less_equal<const char*> before;
    return block_ && before(block_, text.data()) &&
           before(text.data() + text.size(), block_end_);
  }

  GroupMemory memory_;
  char* block_ = nullptr;      // the current input block
  char* block_end_ = nullptr;
  char* free_ = nullptr;       // its first byte no reader has used
  char* room_ = nullptr;       // where the last room began
  std::size_t input_bytes_ = 0;  // of input blocks in the group
};

}  // namespace tavrin
