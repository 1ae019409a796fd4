#include "platform/large_blocks.h"

#include <windows.h>

#include <new>

namespace tavrin {

void* AllocateLargeBlock(std::size_t size) {
  // Committed pages are zero and cost memory only once touched; large pages
  // need a privilege that a batch account rarely has, so they are not asked.
  void* block = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!block) throw std::bad_alloc();
  return block;
}

void FreeLargeBlock(void* block, std::size_t) { ::VirtualFree(block, 0, MEM_RELEASE); }

}  // namespace tavrin
