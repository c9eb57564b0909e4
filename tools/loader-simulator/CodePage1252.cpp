#include "tools/loader-simulator/CodePage1252.h"

#include <stdint.h>
#include <stdio.h>

namespace simulator {
namespace {

// Unicode of the bytes 0x80 to 0x9F; the other bytes map to themselves.
const uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t UnicodeOf(uint8_t byte) { return byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte; }

bool ByteFor(uint32_t codePoint, uint8_t& byte) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    byte = static_cast<uint8_t>(codePoint);
    return true;
  }
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == codePoint) {
      byte = static_cast<uint8_t>(0x80 + i);
      return true;
    }
  }
  return false;
}

void AppendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

// Decodes one UTF-8 sequence at `at`; false for a malformed, overlong or
// surrogate sequence.
bool NextCodePoint(const std::string& text, size_t& at, uint32_t& codePoint) {
  const uint8_t lead = static_cast<uint8_t>(text[at]);
  size_t length;
  uint32_t minimum;
  if (lead < 0x80) {
    codePoint = lead;
    ++at;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return false;
  }
  if (at + length > text.size()) return false;
  for (size_t i = 1; i < length; ++i) {
    const uint8_t next = static_cast<uint8_t>(text[at + i]);
    if ((next & 0xC0) != 0x80) return false;
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return false;
  at += length;
  return true;
}

}  // namespace

bool Utf8ToCodePage1252(const std::string& utf8, std::string& out, std::string& problem) {
  out.clear();
  size_t at = 0;
  while (at < utf8.size()) {
    uint32_t codePoint;
    if (!NextCodePoint(utf8, at, codePoint)) {
      problem = "is not valid UTF-8";
      return false;
    }
    uint8_t byte;
    if (!ByteFor(codePoint, byte)) {
      char name[16];
      snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(codePoint));
      problem = std::string("holds the character ") + name + ", which code page 1252 lacks";
      return false;
    }
    out += static_cast<char>(byte);
  }
  return true;
}

std::string CodePage1252ToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendUtf8(out, UnicodeOf(static_cast<uint8_t>(c)));
  return out;
}

}  // namespace simulator
