#include "package/CRC32.h"

namespace loader {
namespace {

// Entry i is i after eight shift-and-reduce steps; computed at compile time
// so the table is constant data in the image.
struct CrcTable {
  uint32_t Entry[256];
  constexpr CrcTable() : Entry() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t value = i;
      for (int step = 0; step < 8; ++step) value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
      Entry[i] = value;
    }
  }
};

constexpr CrcTable kTable;

}  // namespace

uint32_t Crc32(const uint8_t* bytes, int32_t length) {
  if (length <= 0) return 0;
  uint32_t crc = 0xFFFFFFFFu;
  for (int32_t i = 0; i < length; ++i) crc = kTable.Entry[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace loader
