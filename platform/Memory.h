// Heap blocks for the loader's logic, over the process heap.
//
// The loader has no use for a block it cannot get: every allocation that the
// heap refuses ends the process at once with exit code 0, without a message
// (none of the loader's texts speaks of memory), so no caller ever sees null.
#pragma once

#include <stddef.h>

namespace platform {

// A block of `size` bytes, not cleared. Ends the process when the heap refuses.
void* Allocate(size_t size);
// The block resized to `size` bytes, content kept up to the smaller size; it
// may move. Ends the process when the heap refuses.
void* Reallocate(void* block, size_t size);
// Gives a block back; null is ignored.
void Release(void* block);

}  // namespace platform
