// The process heap.
#include "platform/Platform.h"

#include <windows.h>

namespace platform {

void* HeapAlloc(size_t size) { return ::HeapAlloc(::GetProcessHeap(), 0, size); }

void* HeapReAlloc(void* block, size_t size) { return ::HeapReAlloc(::GetProcessHeap(), 0, block, size); }

void HeapFree(void* block) { ::HeapFree(::GetProcessHeap(), 0, block); }

}  // namespace platform
