#include "script/text_arena.h"

#include <algorithm>
#include <cstring>

namespace tavrin {

std::string_view TextArena::Store(std::string_view text) {
  if (text.empty()) return {};
  if (text.size() > capacity_ - used_) {
    if (text.size() > kBlockSize / 4) {
      // A long text gets a block of its own, placed before the current one so
      // the current block keeps filling.
      auto block = std::make_unique<char[]>(text.size());
      std::memcpy(block.get(), text.data(), text.size());
      std::string_view stored(block.get(), text.size());
      blocks_.insert(blocks_.empty() ? blocks_.end() : std::prev(blocks_.end()), std::move(block));
      return stored;
    }
    const std::size_t capacity =
        std::max(text.size(), std::clamp(2 * capacity_, kFirstBlockSize, kBlockSize));
    blocks_.push_back(std::unique_ptr<char[]>(new char[capacity]));
    used_ = 0;
    capacity_ = capacity;
  }
  char* at = blocks_.back().get() + used_;
  std::memcpy(at, text.data(), text.size());
  used_ += text.size();
  return std::string_view(at, text.size());
}

void TextArena::Clear() {
  if (capacity_ > 0) {
    // The current block is always last: keep it.
    std::unique_ptr<char[]> keep = std::move(blocks_.back());
    blocks_.clear();
    blocks_.push_back(std::move(keep));
  } else {
    blocks_.clear();
  }
  used_ = 0;
}

}  // namespace tavrin
