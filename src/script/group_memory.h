#pragma once
// The memory of one group's statements and records: a first chunk that
// every group reuses, then chunks that grow with a big group. From 2 MiB up
// those come straight from the system in large pages
// (platform/large_blocks.h), so a group of hundreds of megabytes costs a few
// hundred page faults rather than one per 4 KiB. release() frees the grown
// chunks at once and starts the next group in the first chunk again.

#include <memory>
#include <memory_resource>

#include "platform/large_blocks.h"

namespace tavrin {

/// Where a group's grown chunks come from. It holds no state.
class LargeBlockResource final : public std::pmr::memory_resource {
 public:
  static LargeBlockResource* Get() {
    static LargeBlockResource resource;
    return &resource;
  }

 private:
  static bool IsLarge(std::size_t bytes, std::size_t alignment) {
    return bytes >= kLargeBlockMinimum && alignment <= 4096;
  }
  void* do_allocate(std::size_t bytes, std::size_t alignment) override {
    if (IsLarge(bytes, alignment)) return AllocateLargeBlock(bytes);
    return std::pmr::new_delete_resource()->allocate(bytes, alignment);
  }
  void do_deallocate(void* block, std::size_t bytes, std::size_t alignment) override {
    if (IsLarge(bytes, alignment)) return FreeLargeBlock(block, bytes);
    std::pmr::new_delete_resource()->deallocate(block, bytes, alignment);
  }
  bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
    return this == &other;
  }
};

namespace group_memory_detail {
// Made before the resource that starts in it.
struct FirstChunk {
  static constexpr std::size_t kSize = 256 << 10;
  std::unique_ptr<char[]> bytes{new char[kSize]};
};
}  // namespace group_memory_detail

class GroupMemory : private group_memory_detail::FirstChunk,
                    public std::pmr::monotonic_buffer_resource {
 public:
  GroupMemory() : monotonic_buffer_resource(bytes.get(), kSize, LargeBlockResource::Get()) {}
};

}  // namespace tavrin
