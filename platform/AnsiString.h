// A growable 8-bit string in the system's ANSI code page, over the process
// heap. It has no length limit of its own and is always NUL-terminated; it may
// hold NUL bytes inside (Length counts them).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace platform {

class AnsiString {
 public:
  AnsiString() = default;
  AnsiString(const char* text);  // NOLINT: a C string converts implicitly
  AnsiString(const char* text, size_t length);
  AnsiString(const AnsiString& other);
  AnsiString(AnsiString&& other) noexcept;
  AnsiString& operator=(const AnsiString& other);
  AnsiString& operator=(AnsiString&& other) noexcept;
  ~AnsiString();

  const char* Text() const { return data_ != nullptr ? data_ : ""; }
  // Writable text, for calls that take a mutable command line.
  char* MutableText();
  size_t Length() const { return length_; }
  bool IsEmpty() const { return length_ == 0; }
  char operator[](size_t index) const { return data_[index]; }

  void Append(const char* text, size_t length);
  void Append(const char* text);
  void Append(const AnsiString& text) { Append(text.Text(), text.Length()); }
  void Append(char c) { Append(&c, 1); }
  // Appends the number in decimal, without sign, leading zeros or separators.
  void AppendDecimal(uint32_t number);
  void Insert(size_t position, const char* text, size_t length);

  // The first `length` bytes (all when the string is shorter).
  AnsiString Left(size_t length) const;
  // The bytes from `position` to the end (empty past the end).
  AnsiString From(size_t position) const;
  // Index of the last `c`, or -1 when there is none.
  ptrdiff_t FindLast(char c) const;
  bool Contains(char c) const;
  // Byte-for-byte equality with a C string.
  bool Equals(const char* text) const;

 private:
  void Reserve(size_t length);

  char* data_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;
};

// Length of a NUL-terminated string.
size_t StringLength(const char* text);

}  // namespace platform
