// TStream: an in-memory byte stream over the process heap. Sizes and
// positions are signed 32-bit; blocks grow in multiples of 128 KiB, so the
// largest block a stream can hold is 0x7FFE0000 bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace loader {

class TStream {
 public:
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;
  // Clear, then the object itself is released by its owner.
  virtual ~TStream();

  // The object itself lives on the process heap like every block of the
  // loader, in the host build too: a refused heap ends the process, and the
  // streams a fatal error leaves behind go with the process's heap.
  static void* operator new(size_t size);
  static void operator delete(void* object);

  // Origin 0: from the start; 1: from Position; 2: from Size; any other origin
  // leaves Position unchanged. No bound is applied. Returns the new Position.
  int32_t Seek(int32_t offset, int32_t origin);
  // Copies up to `count` bytes from Position; returns how many were copied.
  int32_t Read(void* buffer, int32_t count);
  // Copies `count` bytes to Position, growing Size (and the block) as needed;
  // returns count, or 0 with nothing changed.
  int32_t Write(const void* buffer, int32_t count);
  // Sets Size (and the block by the growth rule); Position moves back to the
  // new Size when it lay beyond it.
  void SetSize(int32_t newSize);
  // Size, found by seeking to the end and back.
  int32_t GetSize();
  // Applies the growth rule to the block; Size and Position stay.
  void SetCapacity(int32_t newCapacity);
  // Releases the block; Size and Position become 0.
  void Clear();

  uint8_t* Memory = nullptr;
  int32_t Size = 0;
  int32_t Position = 0;
  int32_t Capacity = 0;
};

// The growth step of a stream's block, and the largest block it can hold.
constexpr int32_t kStreamGrowthStep = 0x20000;
constexpr int32_t kStreamLimit = 0x7FFE0000;

}  // namespace loader
