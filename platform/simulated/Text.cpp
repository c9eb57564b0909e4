// The simulated ANSI code pages: 1252 in full, and 932 as far as its lead
// bytes and single-byte katakana go (a double-byte character converts to the
// default character U+30FB, since the simulation carries no kanji table).
#include <string.h>

#include <vector>

#include "platform/simulated/State.h"

namespace sim {

namespace {

constexpr uint32_t kCodePage1252 = 1252;
constexpr uint32_t kCodePage932 = 932;
constexpr uint16_t kDefault932 = 0x30FB;  // what Windows puts for an unknown 932 character

// Windows-1252 bytes 0x80 to 0x9F. The five bytes the code page leaves
// unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the same code points, as
// Windows maps them.
const uint16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

bool IsLeadByte932(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// CP_ACP (0) is the configured code page; 0 comes back for an unknown one.
uint32_t Resolve(uint32_t codePage) {
  if (codePage == 0) codePage = Win().codePage;
  return (codePage == kCodePage1252 || codePage == kCodePage932) ? codePage : 0;
}

std::vector<uint16_t> Decode(uint32_t codePage, const uint8_t* bytes, size_t length) {
  std::vector<uint16_t> units;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t byte = bytes[i];
    if (codePage == kCodePage1252) {
      units.push_back(byte >= 0x80 && byte <= 0x9F ? k1252High[byte - 0x80] : byte);
    } else if (byte < 0x80) {
      units.push_back(byte);
    } else if (byte >= 0xA1 && byte <= 0xDF) {
      units.push_back(static_cast<uint16_t>(0xFF61 + (byte - 0xA1)));  // half-width katakana
    } else {
      if (IsLeadByte932(byte) && i + 1 < length && bytes[i + 1] != 0) ++i;
      units.push_back(kDefault932);
    }
  }
  return units;
}

uint8_t Encode1252(uint16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<uint8_t>(unit);
  for (int i = 0; i < 32; ++i) {
    if (k1252High[i] == unit) return static_cast<uint8_t>(0x80 + i);
  }
  return '?';
}

uint8_t Encode932(uint16_t unit) {
  if (unit < 0x80) return static_cast<uint8_t>(unit);
  if (unit >= 0xFF61 && unit <= 0xFF9F) return static_cast<uint8_t>(0xA1 + (unit - 0xFF61));
  return '?';
}

std::vector<uint8_t> Encode(uint32_t codePage, const uint16_t* units, size_t length) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < length; ++i) {
    const uint16_t unit = units[i];
    // A surrogate pair is one character the code pages lack: one '?'.
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
      ++i;
      bytes.push_back('?');
      continue;
    }
    bytes.push_back(codePage == kCodePage1252 ? Encode1252(unit) : Encode932(unit));
  }
  return bytes;
}

}  // namespace

}  // namespace sim

namespace platform {

uint32_t GetACP() { return sim::Win().codePage; }

const char* CharNextA(const char* p) {
  if (*p == 0) return p;  // never past the terminating NUL
  const uint8_t lead = static_cast<uint8_t>(*p);
  if (sim::Win().codePage == sim::kCodePage932 && sim::IsLeadByte932(lead) && p[1] != 0) return p + 2;
  return p + 1;
}

int32_t MultiByteToWideChar(uint32_t codePage, const char* text, int32_t count, uint16_t* wide, int32_t wideCount) {
  codePage = sim::Resolve(codePage);
  if (codePage == 0 || text == nullptr || count == 0 || count < -1 || wideCount < 0) return 0;
  // -1: the whole text, its terminating NUL included.
  const size_t length = count == -1 ? strlen(text) + 1 : static_cast<size_t>(count);
  const std::vector<uint16_t> units = sim::Decode(codePage, reinterpret_cast<const uint8_t*>(text), length);
  if (wideCount == 0) return static_cast<int32_t>(units.size());
  if (wide == nullptr || static_cast<size_t>(wideCount) < units.size()) return 0;  // ERROR_INSUFFICIENT_BUFFER
  if (!units.empty()) memcpy(wide, units.data(), units.size() * sizeof(uint16_t));
  return static_cast<int32_t>(units.size());
}

int32_t WideCharToMultiByte(uint32_t codePage, const uint16_t* wide, int32_t count, char* text, int32_t byteCount) {
  codePage = sim::Resolve(codePage);
  if (codePage == 0 || wide == nullptr || count == 0 || count < -1 || byteCount < 0) return 0;
  size_t length = static_cast<size_t>(count);
  if (count == -1) {
    length = 0;
    while (wide[length] != 0) ++length;
    ++length;
  }
  const std::vector<uint8_t> bytes = sim::Encode(codePage, wide, length);
  if (byteCount == 0) return static_cast<int32_t>(bytes.size());
  if (text == nullptr || static_cast<size_t>(byteCount) < bytes.size()) return 0;  // ERROR_INSUFFICIENT_BUFFER
  if (!bytes.empty()) memcpy(text, bytes.data(), bytes.size());
  return static_cast<int32_t>(bytes.size());
}

}  // namespace platform
