// CRC-32 as zlib and PNG compute it (reflected polynomial 0xEDB88320).
#pragma once

#include <stdint.h>

namespace loader {

// CRC-32 of `length` bytes; 0 for a length of 0 or below.
uint32_t Crc32(const uint8_t* bytes, int32_t length);

}  // namespace loader
