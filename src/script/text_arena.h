#pragma once
// Storage for the statement texts of one group. A statement never changes
// once filed, and all of them go when the group is written, so they are
// packed into large blocks instead of one heap block each.

#include <memory>
#include <string_view>
#include <vector>

namespace tavrin {

class TextArena {
 public:
  /// Copies `text` into the arena; the view stays valid until Clear().
  std::string_view Store(std::string_view text);

  /// Drops every text, keeping one block for the next group.
  void Clear();

 private:
  // Blocks start small, for the many small groups, and double up to this.
  static constexpr std::size_t kFirstBlockSize = 1 << 16;
  static constexpr std::size_t kBlockSize = 1 << 20;

  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;      // bytes used in the last block
  std::size_t capacity_ = 0;  // size of the last block
};

}  // namespace tavrin
