// What the compiler, liblzma and the C++ language expect from a C runtime,
// for a stub that links none: the memory and string primitives, malloc and
// its kin, operator new and delete, all over the process heap.
//
// Built with -fno-tree-loop-distribute-patterns so that GCC cannot turn the
// loops below back into calls of the very functions they implement.
#include <new>
#include <stddef.h>
#include <stdint.h>

#include "platform/Memory.h"
#include "platform/Platform.h"

extern "C" {

// The direction flag is clear on entry to every function (ABI), so the string
// instructions run forwards.
void* memcpy(void* destination, const void* source, size_t count) {
  void* to = destination;
  __asm__ volatile("rep movsb" : "+D"(to), "+S"(source), "+c"(count) : : "memory");
  return destination;
}

void* memset(void* destination, int value, size_t count) {
  void* to = destination;
  __asm__ volatile("rep stosb" : "+D"(to), "+c"(count) : "a"(value) : "memory");
  return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
  unsigned char* to = static_cast<unsigned char*>(destination);
  const unsigned char* from = static_cast<const unsigned char*>(source);
  if (to <= from || to >= from + count) return memcpy(destination, source, count);
  // Overlap with the destination above the source: copy from the end.
  while (count != 0) {
    --count;
    to[count] = from[count];
  }
  return destination;
}

int memcmp(const void* left, const void* right, size_t count) {
  const unsigned char* a = static_cast<const unsigned char*>(left);
  const unsigned char* b = static_cast<const unsigned char*>(right);
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  }
  return 0;
}

void* memchr(const void* block, int value, size_t count) {
  const unsigned char* p = static_cast<const unsigned char*>(block);
  for (size_t i = 0; i < count; ++i) {
    if (p[i] == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(p + i);
  }
  return nullptr;
}

size_t strlen(const char* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

// The C allocation functions return null when the heap refuses, as callers
// such as liblzma expect, rather than ending the process.
void* malloc(size_t size) { return platform::HeapAlloc(size == 0 ? 1 : size); }

void* calloc(size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) return nullptr;
  const size_t total = count * size;
  void* block = malloc(total);
  if (block != nullptr) memset(block, 0, total);
  return block;
}

void* realloc(void* block, size_t size) {
  if (block == nullptr) return malloc(size);
  return platform::HeapReAlloc(block, size == 0 ? 1 : size);
}

void free(void* block) {
  if (block != nullptr) platform::HeapFree(block);
}

// Destructors of static objects would be registered here; the process always
// ends through ExitProcess, so they are never run.
int atexit(void (*)(void)) { return 0; }

// A call through an unset virtual function: a fault, the process ends.
void __cxa_pure_virtual() { platform::ExitProcess(0); }

}  // extern "C"

// operator new ends the process when the heap refuses, like every other
// allocation of the loader's logic; none of them ever sees null.
void* operator new(size_t size) { return platform::Allocate(size); }
void* operator new[](size_t size) { return platform::Allocate(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return platform::Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return platform::Allocate(size); }

void operator delete(void* block) noexcept { platform::Release(block); }
void operator delete[](void* block) noexcept { platform::Release(block); }
void operator delete(void* block, size_t) noexcept { platform::Release(block); }
void operator delete[](void* block, size_t) noexcept { platform::Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { platform::Release(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { platform::Release(block); }
