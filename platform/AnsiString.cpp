#include "platform/AnsiString.h"

#include <string.h>

#include "platform/Memory.h"

namespace platform {

size_t StringLength(const char* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

AnsiString::AnsiString(const char* text) { Append(text); }

AnsiString::AnsiString(const char* text, size_t length) { Append(text, length); }

AnsiString::AnsiString(const AnsiString& other) { Append(other); }

AnsiString::AnsiString(AnsiString&& other) noexcept
    : data_(other.data_), length_(other.length_), capacity_(other.capacity_) {
  other.data_ = nullptr;
  other.length_ = other.capacity_ = 0;
}

AnsiString& AnsiString::operator=(const AnsiString& other) {
  if (this != &other) {
    length_ = 0;
    Append(other);
  }
  return *this;
}

AnsiString& AnsiString::operator=(AnsiString&& other) noexcept {
  if (this != &other) {
    Release(data_);
    data_ = other.data_;
    length_ = other.length_;
    capacity_ = other.capacity_;
    other.data_ = nullptr;
    other.length_ = other.capacity_ = 0;
  }
  return *this;
}

AnsiString::~AnsiString() { Release(data_); }

char* AnsiString::MutableText() {
  Reserve(length_);
  return data_;
}

void AnsiString::Reserve(size_t length) {
  if (data_ != nullptr && length < capacity_) return;
  size_t capacity = capacity_ < 32 ? 32 : capacity_;
  while (capacity <= length) capacity *= 2;
  data_ = static_cast<char*>(Reallocate(data_, capacity));
  capacity_ = capacity;
  data_[length_] = 0;
}

void AnsiString::Append(const char* text, size_t length) {
  Reserve(length_ + length);
  memmove(data_ + length_, text, length);
  length_ += length;
  data_[length_] = 0;
}

void AnsiString::Append(const char* text) { Append(text, StringLength(text)); }

void AnsiString::AppendDecimal(uint32_t number) {
  char digits[10];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) Append(digits[--count]);
}

void AnsiString::Insert(size_t position, const char* text, size_t length) {
  if (position > length_) position = length_;
  Reserve(length_ + length);
  memmove(data_ + position + length, data_ + position, length_ - position);
  memmove(data_ + position, text, length);
  length_ += length;
  data_[length_] = 0;
}

AnsiString AnsiString::Left(size_t length) const {
  return AnsiString(Text(), length < length_ ? length : length_);
}

AnsiString AnsiString::From(size_t position) const {
  if (position >= length_) return AnsiString();
  return AnsiString(data_ + position, length_ - position);
}

ptrdiff_t AnsiString::FindLast(char c) const {
  for (size_t i = length_; i > 0; --i) {
    if (data_[i - 1] == c) return static_cast<ptrdiff_t>(i - 1);
  }
  return -1;
}

bool AnsiString::Contains(char c) const {
  for (size_t i = 0; i < length_; ++i) {
    if (data_[i] == c) return true;
  }
  return false;
}

bool AnsiString::Equals(const char* text) const {
  size_t length = StringLength(text);
  return length == length_ && memcmp(Text(), text, length) == 0;
}

}  // namespace platform
