#include "platform/WideString.h"

#include <string.h>

#include "platform/Memory.h"

namespace platform {

const uint16_t WideString::kEmpty = 0;

WideString::~WideString() { Release(data_); }

uint16_t* WideString::Resize(size_t length) {
  data_ = static_cast<uint16_t*>(Reallocate(data_, (length + 1) * sizeof(uint16_t)));
  length_ = length;
  data_[length_] = 0;
  return data_;
}

ptrdiff_t WideString::Find(const uint16_t* needle, size_t needleLength, size_t from) const {
  if (needleLength > length_) return -1;
  for (size_t i = from; i + needleLength <= length_; ++i) {
    if (memcmp(data_ + i, needle, needleLength * sizeof(uint16_t)) == 0) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

void WideString::Replace(size_t position, size_t count, const uint16_t* text, size_t textLength) {
  size_t tail = length_ - position - count;
  size_t newLength = length_ - count + textLength;
  if (newLength > length_) {
    Resize(newLength);
    memmove(data_ + position + textLength, data_ + position + count, tail * sizeof(uint16_t));
  } else {
    memmove(data_ + position + textLength, data_ + position + count, tail * sizeof(uint16_t));
    length_ = newLength;
    if (data_ != nullptr) data_[length_] = 0;
  }
  if (textLength > 0) memmove(data_ + position, text, textLength * sizeof(uint16_t));
}

}  // namespace platform
