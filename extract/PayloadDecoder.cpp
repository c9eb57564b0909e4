#include "extract/PayloadDecoder.h"

#include <lzma.h>
#include <stdint.h>

#include "platform/Memory.h"
#include "run/StubCore.h"

namespace loader {

namespace {

// The smallest history window the decoder is given.
constexpr uint32_t kMinimumWindow = 4096;

// liblzma allocates through the loader's heap, so a window or table the heap
// refuses ends the process like every other block.
void* DecoderAllocate(void* /*opaque*/, size_t count, size_t size) {
  if (size != 0 && count > SIZE_MAX / size) platform::ExitProcess(0);
  return platform::Allocate(count * size);
}

void DecoderRelease(void* /*opaque*/, void* block) { platform::Release(block); }

const lzma_allocator kDecoderAllocator = {DecoderAllocate, DecoderRelease, nullptr};

[[noreturn]] void Damaged() { ShowFatalError(FatalError::PackageDamaged); }

// Sets up a raw LZMA1 decoder from the header's five property bytes; ends the
// run with PackageDamaged when the properties are refused, by the loader's
// own bounds or by liblzma (which takes lc + lp up to 4 only).
void CreateDecoder(lzma_stream& decoder, const PackageHeader& header) {
  const uint32_t properties = header.LzmaPropertiesByte();
  const uint32_t dictionary = header.LzmaDictionarySize();
  const uint32_t lc = properties % 9;
  const uint32_t lp = (properties / 9) % 5;
  const uint32_t pb = properties / 45;
  if (lc > 8 || lp > 4 || pb > 4) Damaged();
  if (dictionary >= 0x80000000u) Damaged();

  lzma_options_lzma options = {};
  options.dict_size = dictionary < kMinimumWindow ? kMinimumWindow : dictionary;
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

  decoder.allocator = &kDecoderAllocator;
  // The whole window is allocated here, before any byte is decoded.
  if (lzma_raw_decoder(&decoder, filters) != LZMA_OK) Damaged();
}

// Decodes `input` straight into the block of `output`, at most `size` bytes,
// until the size is reached, an end marker, a data error or no progress.
// Returns the number of bytes produced.
uint32_t Decode(lzma_stream& decoder, const TStream& input, TStream& output, uint32_t size) {
  decoder.next_in = input.Memory;
  decoder.avail_in = static_cast<size_t>(input.Size);
  decoder.next_out = output.Memory;
  decoder.avail_out = size;
  while (decoder.avail_out > 0) {
    const size_t inBefore = decoder.avail_in;
    const size_t outBefore = decoder.avail_out;
    const lzma_ret result = lzma_code(&decoder, LZMA_RUN);
    if (result != LZMA_OK) break;
    if (decoder.avail_in == inBefore && decoder.avail_out == outBefore) break;
  }
  return size - static_cast<uint32_t>(decoder.avail_out);
}

}  // namespace

DecodedPayload DecodePayload(platform::Handle file, const PackageHeader& header, const PayloadDescriptor& payload) {
  // The seek takes a signed 32-bit distance from the start; an offset it
  // cannot reach is refused rather than read from somewhere else.
  if (payload.FileOffset >= 0x80000000u) Damaged();
  platform::SetFilePointer(file, static_cast<int32_t>(payload.FileOffset));

  // No stream can hold more than kStreamLimit bytes.
  if (payload.CompressedSize > static_cast<uint32_t>(kStreamLimit)) Damaged();
  TStream* input = new TStream;
  TStream* output = new TStream;

  // The compressed bytes, with one read straight into the input block.
  input->SetSize(static_cast<int32_t>(payload.CompressedSize));
  const uint32_t wanted = static_cast<uint32_t>(input->GetSize());
  if (platform::ReadFile(file, input->Memory, wanted) != wanted) Damaged();

  lzma_stream decoder = LZMA_STREAM_INIT;
  CreateDecoder(decoder, header);

  // A size no stream can hold can never be matched: refused without decoding.
  const uint32_t size = payload.DecompressedSize;
  if (size > static_cast<uint32_t>(kStreamLimit)) Damaged();
  // One block for the whole program, filled by the decoder in place.
  output->SetCapacity(static_cast<int32_t>(size));
  output->SetSize(static_cast<int32_t>(Decode(decoder, *input, *output, size)));
  if (static_cast<uint32_t>(output->GetSize()) != size) Damaged();

  lzma_end(&decoder);
  return {input, output};
}

}  // namespace loader
