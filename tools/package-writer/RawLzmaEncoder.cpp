// Raw LZMA1 compression through liblzma, with the properties the package
// header stores, fed in fixed pieces so progress can be reported.
#include <lzma.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "tools/package-writer/PackageWriter.h"

namespace packagewriter {
namespace {

// liblzma's encoder takes dictionaries from 4 KiB to 1.5 GiB. A stream made
// with a smaller window than the header states decodes the same, so the
// stored size may lie outside that span, and a window larger than the input
// (which only costs the encoder memory) is cut to the input's size.
constexpr uint32_t kEncoderDictionaryMin = LZMA_DICT_SIZE_MIN;
constexpr uint32_t kEncoderDictionaryMax = (1u << 30) + (1u << 29);
constexpr size_t kInputPiece = 1u << 20;

std::string LzmaError(lzma_ret ret) {
  switch (ret) {
    case LZMA_MEM_ERROR: return "out of memory";
    case LZMA_OPTIONS_ERROR: return "liblzma refuses these LZMA settings";
    case LZMA_PROG_ERROR: return "liblzma refuses these LZMA settings";
    default: return "liblzma error " + std::to_string(static_cast<int>(ret));
  }
}

void CheckSettings(const LzmaSettings& settings) {
  if (settings.preset > 9) throw std::runtime_error("LZMA preset " + std::to_string(settings.preset) + " is not 0..9");
  if (settings.lc > 8 || settings.lp > 4 || settings.pb > 4)
    throw std::runtime_error("LZMA lc " + std::to_string(settings.lc) + ", lp " + std::to_string(settings.lp) +
                             ", pb " + std::to_string(settings.pb) + " out of range (lc 0..8, lp 0..4, pb 0..4)");
  if (settings.lc + settings.lp > 4)
    throw std::runtime_error("liblzma cannot encode lc " + std::to_string(settings.lc) + " with lp " +
                             std::to_string(settings.lp) + " (lc + lp must be at most 4)");
  if (settings.dictionarySize >= kOffsetLimit)
    throw std::runtime_error("dictionary size " + std::to_string(settings.dictionarySize) +
                             " is 2^31 or more; the loader refuses it");
}

}  // namespace

uint8_t PropertiesByte(const LzmaSettings& settings) {
  return static_cast<uint8_t>((settings.pb * 5 + settings.lp) * 9 + settings.lc);
}

Bytes CompressRaw(const Bytes& data, const LzmaSettings& settings, const ProgressFunction& progress) {
  CheckSettings(settings);

  lzma_options_lzma options;
  if (lzma_lzma_preset(&options, settings.preset)) throw std::runtime_error("liblzma has no preset " + std::to_string(settings.preset));
  const uint64_t window = std::min<uint64_t>(settings.dictionarySize, data.size());
  options.dict_size = static_cast<uint32_t>(std::clamp<uint64_t>(window, kEncoderDictionaryMin, kEncoderDictionaryMax));
  options.lc = settings.lc;
  options.lp = settings.lp;
  options.pb = settings.pb;

  // LZMA1 always ends with a marker; LZMA1EXT without ALLOW_EOPM leaves it
  // out, the decoded size being stored in the header instead.
  lzma_filter filters[2];
  if (settings.endMarker) {
    filters[0].id = LZMA_FILTER_LZMA1;
  } else {
    filters[0].id = LZMA_FILTER_LZMA1EXT;
    options.ext_flags = 0;
    options.ext_size_low = static_cast<uint32_t>(data.size());
    options.ext_size_high = static_cast<uint32_t>(static_cast<uint64_t>(data.size()) >> 32);
  }
  filters[0].options = &options;
  filters[1].id = LZMA_VLI_UNKNOWN;
  filters[1].options = nullptr;

  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret ret = lzma_raw_encoder(&stream, filters);
  if (ret != LZMA_OK) throw std::runtime_error(LzmaError(ret));

  Bytes out(data.size() / 2 + 4096);
  stream.next_out = out.data();
  stream.avail_out = out.size();
  size_t fed = 0;
  for (;;) {
    if (stream.avail_in == 0 && fed < data.size()) {
      size_t piece = std::min(kInputPiece, data.size() - fed);
      stream.next_in = data.data() + fed;
      stream.avail_in = piece;
      fed += piece;
    }
    lzma_action action = (fed == data.size()) ? LZMA_FINISH : LZMA_RUN;
    ret = lzma_code(&stream, action);
    if (progress && stream.avail_in == 0) progress(stream.total_in, data.size());
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) {
      lzma_end(&stream);
      throw std::runtime_error(LzmaError(ret));
    }
    if (stream.avail_out == 0) {
      size_t used = out.size();
      out.resize(out.size() * 2);
      stream.next_out = out.data() + used;
      stream.avail_out = out.size() - used;
    }
  }
  out.resize(stream.total_out);
  lzma_end(&stream);
  return out;
}

}  // namespace packagewriter
