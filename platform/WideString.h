// A growable UTF-16 string over the process heap, length-counted: a NUL code
// unit inside it is an ordinary unit. It keeps a NUL unit after its last one so
// that it can be handed to calls that want a terminated text.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace platform {

class WideString {
 public:
  WideString() = default;
  WideString(const WideString&) = delete;
  WideString& operator=(const WideString&) = delete;
  ~WideString();

  const uint16_t* Units() const { return data_ != nullptr ? data_ : &kEmpty; }
  size_t Length() const { return length_; }

  // Makes the string `length` units long; the new units are not cleared.
  // Returns the writable units.
  uint16_t* Resize(size_t length);
  // Index of the first occurrence of `needle` at or after `from`, or -1.
  ptrdiff_t Find(const uint16_t* needle, size_t needleLength, size_t from) const;
  // Replaces `count` units at `position` with `text`.
  void Replace(size_t position, size_t count, const uint16_t* text, size_t textLength);

 private:
  static const uint16_t kEmpty;
  uint16_t* data_ = nullptr;
  size_t length_ = 0;
};

}  // namespace platform
