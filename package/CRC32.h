// CRC-32 as zlib and PNG compute it (reflected polynomial 0xEDB88320).
#pragma once

#include <stdint.h>

namespace loader {

// CRC-32 of `length` bytes; 0 for a length of 0 or below. Eight bytes at a
// time through eight tables; gives what Crc32ByteAtATime gives for every
// input.
uint32_t Crc32(const uint8_t* bytes, int32_t length);

// The same checksum in its written form, one byte at a time through the
// 256-entry table; the reference Crc32 is held to.
uint32_t Crc32ByteAtATime(const uint8_t* bytes, int32_t length);

}  // namespace loader
