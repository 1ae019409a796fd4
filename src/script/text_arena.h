#pragma once
// Storage for the statement texts of one group. A statement never changes
// once filed, and all of them go when the group is written, so they are
// packed into the group's memory instead of one heap block each.

#include <cstring>
#include <memory_resource>
#include <string_view>

#include "script/group_memory.h"

namespace tavrin {

class TextArena {
 public:
  /// Copies `text` into the arena; the view stays valid until Clear().
  std::string_view Store(std::string_view text) {
    if (text.empty()) return {};
    char* at = static_cast<char*>(memory_.allocate(text.size(), 1));
    std::memcpy(at, text.data(), text.size());
    return std::string_view(at, text.size());
  }

  /// Drops every text.
  void Clear() { memory_.release(); }

 private:
  GroupMemory memory_;
};

}  // namespace tavrin
