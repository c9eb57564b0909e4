#include "bench/LowerBound.h"

#include <lzma.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "bench/BenchClock.h"

namespace bench {
namespace {

double gAllocator = 0;

void* TouchedAlloc(void*, size_t count, size_t size) {
  const double start = Now();
  void* block = malloc(count * size);
  if (block != nullptr) memset(block, 0xCD, count * size);
  gAllocator += Now() - start;
  return block;
}

void TimedFree(void*, void* block) {
  const double start = Now();
  free(block);
  gAllocator += Now() - start;
}

const lzma_allocator kTouchedAllocator = {TouchedAlloc, TimedFree, nullptr};

}  // namespace

LowerBoundRun DecodeLowerBound(const uint8_t* stream, size_t streamSize, uint8_t propertiesByte,
                               uint32_t dictionary, const std::string& expected) {
  LowerBoundRun run;
  const size_t size = expected.size();
  std::unique_ptr<uint8_t, decltype(&free)> output(static_cast<uint8_t*>(malloc(size == 0 ? 1 : size)), &free);
  memset(output.get(), 0, size);

  lzma_options_lzma options = {};
  options.dict_size = dictionary < 4096 ? 4096 : dictionary;
  options.lc = propertiesByte % 9;
  options.lp = (propertiesByte / 9) % 5;
  options.pb = propertiesByte / 45;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

  gAllocator = 0;
  const double start = Now();
  lzma_stream decoder = LZMA_STREAM_INIT;
  decoder.allocator = &kTouchedAllocator;
  if (lzma_raw_decoder(&decoder, filters) != LZMA_OK) return run;
  decoder.next_in = stream;
  decoder.avail_in = streamSize;
  decoder.next_out = output.get();
  decoder.avail_out = size;
  while (decoder.avail_out > 0) {
    if (lzma_code(&decoder, LZMA_RUN) != LZMA_OK) break;
  }
  const size_t produced = size - decoder.avail_out;
  lzma_end(&decoder);
  run.seconds = Now() - start - gAllocator;
  run.allocator = gAllocator;
  run.ok = produced == size && memcmp(output.get(), expected.data(), size) == 0;
  return run;
}

}  // namespace bench
