#include "platform/Memory.h"

#include "platform/Platform.h"

namespace platform {

void* Allocate(size_t size) {
  void* block = HeapAlloc(size == 0 ? 1 : size);
  if (block == nullptr) ExitProcess(0);
  return block;
}

void* Reallocate(void* block, size_t size) {
  if (block == nullptr) return Allocate(size);
  void* moved = HeapReAlloc(block, size == 0 ? 1 : size);
  if (moved == nullptr) ExitProcess(0);
  return moved;
}

void Release(void* block) {
  if (block != nullptr) HeapFree(block);
}

}  // namespace platform
