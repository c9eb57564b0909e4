// The lower bound of the loader's road: liblzma's raw LZMA1 decode of the
// same stream into a buffer allocated up front, and nothing else.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace bench {

struct LowerBoundRun {
  double seconds = 0;     // decoder set-up, the decode and lzma_end, less the allocator's time
  double allocator = 0;   // time inside the decoder's allocations (left out above)
  bool ok = false;        // the buffer holds `expected`
};

// Decodes `stream` (properties byte and dictionary size as the package header
// holds them) into a buffer of expected.size() bytes that is allocated and
// touched before the clock starts. The decoder's own blocks (window, tables)
// are touched as they are allocated, and that time is left out, just as the
// simulated heap's time is left out of the loader's: both sides then decode
// into memory that is already mapped.
LowerBoundRun DecodeLowerBound(const uint8_t* stream, size_t streamSize, uint8_t propertiesByte,
                               uint32_t dictionary, const std::string& expected);

}  // namespace bench
