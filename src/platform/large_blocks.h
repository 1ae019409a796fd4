#pragma once
// Memory for the large blocks that hold one group's statements: taken from
// the system directly, in large pages where it offers them. A big group then
// costs a few hundred page faults instead of one per 4 KiB.

#include <cstddef>

namespace tavrin {

/// The smallest block worth taking this way; smaller ones come from the heap.
inline constexpr std::size_t kLargeBlockMinimum = std::size_t{2} << 20;

/// A block of `size` bytes, aligned to at least 4 KiB and filled with zero
/// bytes; throws std::bad_alloc when the system refuses.
void* AllocateLargeBlock(std::size_t size);

/// Returns a block from AllocateLargeBlock, with the size it was asked for.
void FreeLargeBlock(void* block, std::size_t size);

}  // namespace tavrin
