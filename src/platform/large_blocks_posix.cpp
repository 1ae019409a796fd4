#include "platform/large_blocks.h"

#include <sys/mman.h>

#include <cstdint>
#include <new>

namespace tavrin {
namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;

// Whole pages, so the ends to trim lie on page boundaries; not whole huge
// pages, which a user of the block's last bytes would fill for nothing.
std::size_t Rounded(std::size_t size) { return (size + kPage - 1) & ~(kPage - 1); }
}  // namespace

void* AllocateLargeBlock(std::size_t asked) {
  // Map a huge page more than needed and trim both ends, so that the block
  // starts on a huge-page boundary and each whole huge page in it can be one.
  const std::size_t size = Rounded(asked);
  const std::size_t mapped = size + kHugePage;
  void* region = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (region == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(region);
  const std::uintptr_t aligned = (start + kHugePage - 1) & ~(std::uintptr_t{kHugePage} - 1);
  if (aligned > start) ::munmap(region, aligned - start);
  const std::size_t tail = start + mapped - (aligned + size);
  if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* block = reinterpret_cast<void*>(aligned);
#ifdef MADV_HUGEPAGE
  ::madvise(block, size, MADV_HUGEPAGE);  // advice only: no huge pages is fine
#endif
  return block;
}

void FreeLargeBlock(void* block, std::size_t size) { ::munmap(block, Rounded(size)); }

}  // namespace tavrin
