// Package texts: UTF-8 in, UTF-16 with CR LF line breaks out, as the loader
// shows them in a message box.
#include <stdexcept>
#include <string>

#include "tools/package-writer/PackageWriter.h"

namespace packagewriter {
namespace {

[[noreturn]] void InvalidUtf8(size_t at) {
  throw std::runtime_error("text is not valid UTF-8 (byte " + std::to_string(at) + ")");
}

// Decodes the code point at `at` and moves `at` past it; refuses overlong
// forms, surrogates and values above U+10FFFF.
char32_t NextCodePoint(const std::string& text, size_t& at) {
  const size_t start = at;
  const unsigned char lead = static_cast<unsigned char>(text[at++]);
  if (lead < 0x80) return lead;
  int continuation;
  char32_t value;
  char32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    continuation = 1, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    continuation = 2, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    continuation = 3, value = lead & 0x07, minimum = 0x10000;
  } else {
    InvalidUtf8(start);
  }
  for (int i = 0; i < continuation; ++i) {
    if (at >= text.size()) InvalidUtf8(start);
    const unsigned char next = static_cast<unsigned char>(text[at++]);
    if ((next & 0xC0) != 0x80) InvalidUtf8(start);
    value = (value << 6) | (next & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) InvalidUtf8(start);
  return value;
}

}  // namespace

std::u16string TextFromUtf8(const std::string& utf8) {
  std::u16string text;
  text.reserve(utf8.size());
  size_t at = 0;
  while (at < utf8.size()) {
    const char32_t c = NextCodePoint(utf8, at);
    if (c == U'\r' || c == U'\n') {
      // CR LF, a lone LF and a lone CR each become one CR LF.
      if (c == U'\r' && at < utf8.size() && utf8[at] == '\n') ++at;
      text += u"\r\n";
    } else if (c >= 0x10000) {
      const char32_t v = c - 0x10000;
      text += static_cast<char16_t>(0xD800 + (v >> 10));
      text += static_cast<char16_t>(0xDC00 + (v & 0x3FF));
    } else {
      text += static_cast<char16_t>(c);
    }
  }
  return text;
}

}  // namespace packagewriter
