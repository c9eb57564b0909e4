#include "extract/NoRTLStream.h"

#include <string.h>

#include "platform/Memory.h"
#include "platform/Platform.h"

namespace loader {

namespace {

// A 64-bit result cut to 32 bits and read as signed: the stream's fields
// wrap the way 32-bit signed arithmetic on the target does.
int32_t Wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value))); }

}  // namespace

TStream::~TStream() { Clear(); }

void* TStream::operator new(size_t size) { return platform::Allocate(size); }

void TStream::operator delete(void* object) { platform::Release(object); }

int32_t TStream::Seek(int32_t offset, int32_t origin) {
  switch (origin) {
    case 0:
      Position = offset;
      break;
    case 1:
      Position = Wrap32(static_cast<int64_t>(Position) + offset);
      break;
    case 2:
      Position = Wrap32(static_cast<int64_t>(Size) + offset);
      break;
    default:
      break;
  }
  return Position;
}

int32_t TStream::Read(void* buffer, int32_t count) {
  if (Position < 0 || count < 0) return 0;
  int64_t available = static_cast<int64_t>(Size) - Position;
  if (available <= 0) return 0;
  const int32_t n = available < count ? static_cast<int32_t>(available) : count;
  if (n > 0) memcpy(buffer, Memory + Position, static_cast<size_t>(n));
  Position += n;
  return n;
}

int32_t TStream::Write(const void* buffer, int32_t count) {
  if (Position < 0 || count < 0) return 0;
  // An end past 0x7FFFFFFF wraps to a negative number and is refused, as the
  // 32-bit sum does on the target.
  const int32_t end = Wrap32(static_cast<int64_t>(Position) + count);
  if (end <= 0) return 0;
  if (end > Size) {
    // Grow first: SetCapacity sees the old Size, so the growth is rounded.
    if (end > Capacity) SetCapacity(end);
    Size = end;
  }
  if (count > 0) memcpy(Memory + Position, buffer, static_cast<size_t>(count));
  Position = end;
  return count;
}

void TStream::SetSize(int32_t newSize) {
  const int32_t oldPosition = Position;
  SetCapacity(newSize);
  Size = newSize;
  if (newSize < oldPosition) Position = newSize;
}

int32_t TStream::GetSize() {
  const int32_t oldPosition = Seek(0, 1);
  const int32_t size = Seek(0, 2);
  Seek(oldPosition, 0);
  return size;
}

void TStream::SetCapacity(int32_t newCapacity) {
  int32_t capacity = newCapacity;
  if (newCapacity > 0 && newCapacity != Size) {
    // Round up to the growth step. Above kStreamLimit the signed 32-bit
    // rounding has no answer: no block can hold such a stream, so the request
    // ends the process like any block the heap refuses.
    if (newCapacity > kStreamLimit) platform::ExitProcess(0);
    const uint32_t step = static_cast<uint32_t>(kStreamGrowthStep);
    capacity = static_cast<int32_t>((static_cast<uint32_t>(newCapacity) + (step - 1)) & ~(step - 1));
  }
  // A negative request holds nothing: it gives the block back like 0, so that
  // Memory is none exactly when Capacity is 0.
  if (capacity < 0) capacity = 0;
  if (capacity == Capacity) return;
  if (capacity == 0) {
    platform::Release(Memory);
    Memory = nullptr;
  } else if (Capacity == 0) {
    Memory = static_cast<uint8_t*>(platform::Allocate(static_cast<size_t>(capacity)));
  } else {
    Memory = static_cast<uint8_t*>(platform::Reallocate(Memory, static_cast<size_t>(capacity)));
  }
  Capacity = capacity;
}

void TStream::Clear() {
  SetCapacity(0);
  Size = 0;
  Position = 0;
}

}  // namespace loader
