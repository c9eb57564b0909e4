#include "package/CRC32.h"

#include "package/StubTypes.h"

namespace loader {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

// Entry i is i after eight steps, each shifting right by one bit and applying
// the polynomial when the bit shifted out was 1. The tables are made on the
// stack at every call rather than stored: the stub saves their bytes, a run
// computes one checksum, and making them takes microseconds.
void FillTable(uint32_t table[256]) {
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i;
    for (int step = 0; step < 8; ++step) value = (value & 1) ? (value >> 1) ^ kPolynomial : value >> 1;
    table[i] = value;
  }
}

}  // namespace

uint32_t Crc32(const uint8_t* bytes, int32_t length) {
  if (length <= 0) return 0;
  // table[k][i]: the register change of byte i followed by k zero bytes, so
  // that eight bytes fold into the register in one step.
  uint32_t table[8][256];
  FillTable(table[0]);
  for (uint32_t i = 0; i < 256; ++i) {
    for (int k = 1; k < 8; ++k) table[k][i] = (table[k - 1][i] >> 8) ^ table[0][table[k - 1][i] & 0xFF];
  }
  uint32_t crc = 0xFFFFFFFFu;
  const uint8_t* p = bytes;
  uint32_t left = static_cast<uint32_t>(length);
  for (; left >= 8; left -= 8, p += 8) {
    const uint32_t low = crc ^ ReadLittle32(p);
    const uint32_t high = ReadLittle32(p + 4);
    crc = table[7][low & 0xFF] ^ table[6][(low >> 8) & 0xFF] ^ table[5][(low >> 16) & 0xFF] ^ table[4][low >> 24] ^
          table[3][high & 0xFF] ^ table[2][(high >> 8) & 0xFF] ^ table[1][(high >> 16) & 0xFF] ^ table[0][high >> 24];
  }
  for (; left > 0; --left, ++p) crc = table[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

uint32_t Crc32ByteAtATime(const uint8_t* bytes, int32_t length) {
  if (length <= 0) return 0;
  uint32_t table[256];
  FillTable(table);
  uint32_t crc = 0xFFFFFFFFu;
  for (int32_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

}  // namespace loader
