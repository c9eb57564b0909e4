// The package records as they stand in the loader's file: packed,
// little-endian, read whole with one read. Fields are kept as byte arrays and
// read through accessors, so the layout never depends on the host's alignment
// or byte order.
#pragma once

#include <stdint.h>

namespace loader {

inline uint16_t ReadLittle16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t ReadLittle32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void WriteLittle16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLittle32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// File offset of the PackageLocator in the loader's executable.
constexpr uint32_t kLocatorOffset = 128;

// The 24-byte record at file offset 128 that finds and sizes the package.
struct PackageLocator {
  uint8_t Bytes[24];

  uint32_t HeaderOffset() const { return ReadLittle32(Bytes + 0); }
  uint32_t ChecksumLength() const { return ReadLittle32(Bytes + 4); }
  uint32_t Checksum() const { return ReadLittle32(Bytes + 8); }
  uint32_t ExpectedSizeLow() const { return ReadLittle32(Bytes + 12); }
  uint32_t ExpectedSizeHigh() const { return ReadLittle32(Bytes + 16); }
  uint32_t DetachedFileSize() const { return ReadLittle32(Bytes + 20); }
};
static_assert(sizeof(PackageLocator) == 24, "PackageLocator is 24 bytes");

// Where one build of the setup program lies, as the header stores it.
struct PayloadDescriptor {
  uint32_t FileOffset;
  uint32_t CompressedSize;
  uint32_t DecompressedSize;
};

// Payload64 offset that declares no 64-bit build and refuses 64-bit Windows.
constexpr uint32_t kRefuse64BitWindows = 0xFFFFFFFF;

// Where a refusal text lies: absolute file offset and length in UTF-16 units.
struct MessageRef {
  uint32_t Offset;
  uint16_t Length;
};

// Elements of SupportedSystems.
enum SupportedSystem : unsigned {
  Windows95 = 0,
  Windows98 = 1,
  WindowsME = 2,
  WindowsNT4 = 3,
  Windows2000 = 4,
  WindowsXP = 5,
  WindowsVista = 6,
  Windows7 = 7,
  Windows8 = 8,
  Windows81 = 9,
  Windows10 = 10,
  LaterWindows = 63,
};

// The 70-byte record at HeaderOffset.
struct PackageHeader {
  uint8_t Bytes[70];

  uint8_t LzmaPropertiesByte() const { return Bytes[0]; }
  uint32_t LzmaDictionarySize() const { return ReadLittle32(Bytes + 1); }
  // Element n of SupportedSystems is bit (n mod 8) of byte 5 + n / 8.
  bool Supports(unsigned element) const { return (Bytes[5 + element / 8] >> (element % 8)) & 1; }
  uint16_t MinReleaseId() const { return ReadLittle16(Bytes + 13); }
  uint16_t MaxReleaseId() const { return ReadLittle16(Bytes + 15); }
  uint8_t ElevationMode() const { return Bytes[17]; }
  PayloadDescriptor Payload32() const { return Descriptor(18); }
  PayloadDescriptor Payload64() const { return Descriptor(30); }
  MessageRef ArchitectureMessage() const { return Message(58); }
  MessageRef SystemMessage() const { return Message(64); }

 private:
  PayloadDescriptor Descriptor(unsigned at) const {
    return {ReadLittle32(Bytes + at), ReadLittle32(Bytes + at + 4), ReadLittle32(Bytes + at + 8)};
  }
  MessageRef Message(unsigned at) const { return {ReadLittle32(Bytes + at), ReadLittle16(Bytes + at + 4)}; }
};
static_assert(sizeof(PackageHeader) == 70, "PackageHeader is 70 bytes");

// Byte offsets of the header's fields, for the package writer.
namespace header_offset {
constexpr unsigned LzmaProperties = 0;
constexpr unsigned SupportedSystems = 5;
constexpr unsigned MinReleaseId = 13;
constexpr unsigned MaxReleaseId = 15;
constexpr unsigned ElevationMode = 17;
constexpr unsigned Payload32 = 18;
constexpr unsigned Payload64 = 30;
constexpr unsigned EndOfData = 42;
constexpr unsigned ArchitectureMessage = 58;
constexpr unsigned SystemMessage = 64;
}  // namespace header_offset

}  // namespace loader
