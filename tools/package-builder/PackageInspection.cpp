#include "tools/package-builder/PackageInspection.h"

#include <lzma.h>
#include <stdio.h>

#include <algorithm>
#include <stdexcept>

#include "tools/package-builder/HostSystem.h"
#include "tools/package-writer/PackageWriter.h"

namespace packagebuilder {
namespace {

constexpr uint64_t kOffsetLimit = packagewriter::kOffsetLimit;
constexpr size_t kPiece = 1u << 20;

std::string Hex(uint64_t value, int digits = 8) {
  char text[24];
  snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string N(uint64_t value) { return std::to_string(value); }

// The package file, read at absolute offsets.
class TPackageFile {
 public:
  explicit TPackageFile(const std::string& path) : path_(path) {
    std::string error;
    file_ = OpenForReading(path, size_, error);
    if (!file_) throw std::runtime_error("cannot read " + path + ": " + error);
  }
  ~TPackageFile() { fclose(file_); }
  uint64_t Size() const { return size_; }
  // Reads `length` bytes at `offset`, which the caller has checked lie in the file.
  void ReadAt(uint64_t offset, void* into, size_t length) {
    if (length == 0) return;
    if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0 || fread(into, 1, length, file_) != length)
      throw std::runtime_error("cannot read " + path_ + " at offset " + N(offset));
  }
  bool Holds(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }

 private:
  std::string path_;
  FILE* file_;
  uint64_t size_ = 0;
};

class TChecks {
 public:
  explicit TChecks(std::vector<InspectionCheck>& list) : list_(list) {}
  bool Pass(const std::string& name, const std::string& detail) { return Add(name, true, detail); }
  bool Fail(const std::string& name, const std::string& detail) { return Add(name, false, detail); }

 private:
  bool Add(const std::string& name, bool passed, const std::string& detail) {
    list_.push_back({name, passed, detail});
    return passed;
  }
  std::vector<InspectionCheck>& list_;
};

bool CheckLocator(TPackageFile& file, PackageInspection& result, TChecks& checks) {
  if (file.Size() < loader::kLocatorOffset + sizeof(loader::PackageLocator))
    return checks.Fail("locator", "the file is " + N(file.Size()) + " bytes, too short to hold the locator at 128..151");
  file.ReadAt(loader::kLocatorOffset, result.locator.Bytes, sizeof result.locator.Bytes);
  result.hasLocator = true;
  const uint32_t headerOffset = result.locator.HeaderOffset();
  if (headerOffset == 0) return checks.Fail("locator", "HeaderOffset is 0: the file carries no package");
  if (headerOffset >= kOffsetLimit)
    return checks.Fail("locator", "HeaderOffset " + Hex(headerOffset) + " is 2^31 or more; the loader cannot seek there");
  return checks.Pass("locator", "HeaderOffset " + N(headerOffset));
}

// The loader's size test: DetachedFileSize against the low 32 bits of the
// file size, else the signed 64-bit minimum size against the file size.
void CheckSize(const TPackageFile& file, const loader::PackageLocator& locator, TChecks& checks) {
  const uint64_t size = file.Size();
  if (const uint32_t detached = locator.DetachedFileSize()) {
    const uint32_t low = static_cast<uint32_t>(size);
    if (detached > low)
      checks.Fail("size", "truncated: the file's size (low 32 bits " + N(low) + ") is below DetachedFileSize " + N(detached));
    else
      checks.Pass("size", "detached: the file's size (low 32 bits " + N(low) + ") reaches DetachedFileSize " + N(detached));
    return;
  }
  const uint64_t raw = (static_cast<uint64_t>(locator.ExpectedSizeHigh()) << 32) | locator.ExpectedSizeLow();
  const int64_t expected = static_cast<int64_t>(raw);
  if (static_cast<int64_t>(size) < expected)
    checks.Fail("size", "truncated: the file is " + N(size) + " bytes, the package needs " + N(raw));
  else if (expected < 0)
    checks.Pass("size", "the minimum size " + Hex(raw, 16) + " is negative, so every file passes");
  else
    checks.Pass("size", "the file is " + N(size) + " bytes, the package needs " + N(raw));
}

void CheckChecksum(TPackageFile& file, const loader::PackageLocator& locator, TChecks& checks) {
  const uint32_t start = locator.HeaderOffset(), length = locator.ChecksumLength();
  if (length >= kOffsetLimit) {
    checks.Fail("checksum", "ChecksumLength " + Hex(length) + " is 2^31 or more; the loader cannot read such a range");
    return;
  }
  if (!file.Holds(start, length)) {
    checks.Fail("checksum", "the checksum range (" + N(length) + " bytes from " + N(start) +
                                ") reaches beyond the end of the file");
    return;
  }
  std::vector<uint8_t> piece(std::min<size_t>(kPiece, length));
  uint32_t crc = 0;
  for (uint64_t done = 0; done < length;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(piece.size(), length - done));
    file.ReadAt(start + done, piece.data(), n);
    crc = lzma_crc32(piece.data(), n, crc);
    done += n;
  }
  if (crc != locator.Checksum())
    checks.Fail("checksum", "CRC-32 mismatch: the range (" + N(length) + " bytes) gives " + Hex(crc) +
                                ", the locator says " + Hex(locator.Checksum()));
  else
    checks.Pass("checksum", "CRC-32 " + Hex(crc) + " of " + N(length) + " bytes matches");
}

struct LzmaProperties {
  uint32_t lc, lp, pb, dictionary;
  bool refused;
};

LzmaProperties CheckProperties(const loader::PackageHeader& header, TChecks& checks) {
  const uint8_t b = header.LzmaPropertiesByte();
  LzmaProperties p{b % 9u, (b / 9u) % 5u, b / 45u, header.LzmaDictionarySize(), true};
  const std::string what = "properties byte " + N(b) + " (lc " + N(p.lc) + ", lp " + N(p.lp) + ", pb " + N(p.pb) +
                           "), dictionary " + N(p.dictionary);
  if (p.pb > 4)
    checks.Fail("lzma-properties", what + ": pb above 4, the loader refuses bytes 225 and above");
  else if (p.dictionary >= kOffsetLimit)
    checks.Fail("lzma-properties", what + ": a dictionary of 2^31 or more is refused by the loader");
  else if (p.lc + p.lp > 4)
    checks.Fail("lzma-properties", what + ": lc + lp above 4, which liblzma cannot decode");
  else
    p.refused = !checks.Pass("lzma-properties", what);
  return p;
}

Selection SelectPayloads(const loader::PackageHeader& header, PackageInspection& result, TChecks& checks) {
  const uint32_t p32 = header.Payload32().FileOffset, p64 = header.Payload64().FileOffset;
  result.payload32 = {p32 != 0, header.Payload32()};
  result.payload64 = {p64 != 0 && p64 != loader::kRefuse64BitWindows, header.Payload64()};
  Selection s;
  if (p32 == 0) {
    s.on32BitWindows = "refused";
    s.on64BitWindows = "payload64";
  } else if (p64 == loader::kRefuse64BitWindows) {
    s.on32BitWindows = "payload32";
    s.on64BitWindows = "refused";
  } else if (p64 == 0) {
    s.on32BitWindows = s.on64BitWindows = "payload32";
  } else {
    s.on32BitWindows = "payload32";
    s.on64BitWindows = "payload64";
    s.switch32Matters = true;
  }
  if (!result.payload32.present && !result.payload64.present)
    checks.Fail("payloads", "no payload: Payload32 offset is 0 and Payload64 offset is " + Hex(p64));
  else
    checks.Pass("payloads", "32-bit Windows: " + s.on32BitWindows + "; 64-bit Windows: " + s.on64BitWindows +
                                (s.switch32Matters ? " (payload32 with /32)" : ""));
  return s;
}

// Decodes one payload as the loader does: raw LZMA1, window max(dictionary,
// 4096), stopping at the stated size, an end marker or an error.
void CheckPayload(TPackageFile& file, const std::string& name, const loader::PayloadDescriptor& d,
                  const LzmaProperties& properties, const InspectionProgress& progress, TChecks& checks) {
  const std::string where = "offset " + N(d.FileOffset) + ", " + N(d.CompressedSize) + " -> " +
                            N(d.DecompressedSize) + " bytes";
  if (d.FileOffset >= kOffsetLimit)
    return (void)checks.Fail(name, where + ": the offset is 2^31 or more; the loader cannot seek there");
  if (d.CompressedSize > packagewriter::kMaxPayloadSize)
    return (void)checks.Fail(name, where + ": the compressed size is above 0x7FFE0000, more than the loader's stream holds");
  if (d.DecompressedSize > packagewriter::kMaxPayloadSize)
    return (void)checks.Fail(name, where + ": the decompressed size is above 0x7FFE0000, more than the loader's stream holds");
  if (!file.Holds(d.FileOffset, d.CompressedSize))
    return (void)checks.Fail(name, where + ": the compressed stream reaches beyond the end of the file");
  if (properties.refused) return (void)checks.Fail(name, where + ": not decoded, the LZMA properties are refused");
  if (d.DecompressedSize == 0) return (void)checks.Pass(name, where + ": nothing to decode");

  lzma_options_lzma options{};
  options.lc = properties.lc;
  options.lp = properties.lp;
  options.pb = properties.pb;
  options.dict_size = std::max<uint32_t>(properties.dictionary, 4096);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  lzma_ret ret = lzma_raw_decoder(&stream, filters);
  if (ret != LZMA_OK)
    return (void)checks.Fail(name, where + ": liblzma cannot set up the decoder (error " + N(ret) + ")");

  std::vector<uint8_t> input(std::min<size_t>(kPiece, std::max<uint32_t>(d.CompressedSize, 1)));
  std::vector<uint8_t> output(kPiece);
  uint64_t fed = 0, produced = 0;
  ret = LZMA_OK;
  while (produced < d.DecompressedSize && ret == LZMA_OK) {
    if (stream.avail_in == 0 && fed < d.CompressedSize) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(input.size(), d.CompressedSize - fed));
      file.ReadAt(d.FileOffset + fed, input.data(), n);
      stream.next_in = input.data();
      stream.avail_in = n;
      fed += n;
    }
    const size_t room = static_cast<size_t>(std::min<uint64_t>(output.size(), d.DecompressedSize - produced));
    stream.next_out = output.data();
    stream.avail_out = room;
    ret = lzma_code(&stream, LZMA_RUN);
    produced += room - stream.avail_out;
    if (progress) progress("checking " + name, produced, d.DecompressedSize);
  }
  lzma_end(&stream);

  if (produced == d.DecompressedSize)
    checks.Pass(name, where + ": decodes to " + N(produced) + " bytes as stated");
  else if (ret == LZMA_STREAM_END)
    checks.Fail(name, where + ": an end marker stops decoding after " + N(produced) + " bytes, not the stated size");
  else if (ret == LZMA_DATA_ERROR)
    checks.Fail(name, where + ": data error after " + N(produced) + " bytes; it does not decode to the stated size");
  else if (ret == LZMA_MEM_ERROR)
    checks.Fail(name, where + ": out of memory for the decoder's window");
  else
    checks.Fail(name, where + ": the compressed stream runs out after " + N(produced) +
                          " bytes; it does not decode to the stated size");
}

void ReadText(TPackageFile& file, const std::string& name, const loader::MessageRef& ref, TextFacts& facts,
              TChecks& checks) {
  facts.ref = ref;
  const std::string where = "offset " + N(ref.Offset) + ", " + N(ref.Length) + " UTF-16 units";
  if (ref.Length == 0) {
    facts.readable = true;
    checks.Pass(name, "empty");
    return;
  }
  if (ref.Offset >= kOffsetLimit) {
    checks.Fail(name, where + ": the offset is 2^31 or more; the loader cannot seek there");
    return;
  }
  if (!file.Holds(ref.Offset, 2u * ref.Length)) {
    checks.Fail(name, where + ": the text lies beyond the end of the file");
    return;
  }
  std::vector<uint8_t> bytes(2u * ref.Length);
  file.ReadAt(ref.Offset, bytes.data(), bytes.size());
  std::u16string text;
  for (size_t i = 0; i < ref.Length; ++i) text += static_cast<char16_t>(loader::ReadLittle16(bytes.data() + 2 * i));
  facts.readable = true;
  facts.utf8 = Utf8FromUtf16(text);
  checks.Pass(name, where + ": within the file");
}

}  // namespace

bool PackageInspection::Passed() const {
  return std::all_of(checks.begin(), checks.end(), [](const InspectionCheck& c) { return c.passed; });
}

std::string Utf8FromUtf16(const std::u16string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

PackageInspection InspectPackage(const std::string& path, const InspectionProgress& progress) {
  PackageInspection result;
  result.path = path;
  TPackageFile file(path);
  result.fileSize = file.Size();
  TChecks checks(result.checks);

  if (!CheckLocator(file, result, checks)) return result;
  CheckSize(file, result.locator, checks);
  CheckChecksum(file, result.locator, checks);

  const uint32_t headerOffset = result.locator.HeaderOffset();
  if (!file.Holds(headerOffset, sizeof(loader::PackageHeader))) {
    checks.Fail("header", "the header (70 bytes at " + N(headerOffset) + ") reaches beyond the end of the file");
    return result;
  }
  file.ReadAt(headerOffset, result.header.Bytes, sizeof result.header.Bytes);
  result.hasHeader = true;
  checks.Pass("header", "70 bytes at " + N(headerOffset));

  const LzmaProperties properties = CheckProperties(result.header, checks);
  result.selection = SelectPayloads(result.header, result, checks);
  if (result.payload32.present) CheckPayload(file, "payload32", result.payload32.descriptor, properties, progress, checks);
  if (result.payload64.present) CheckPayload(file, "payload64", result.payload64.descriptor, properties, progress, checks);
  ReadText(file, "architecture-text", result.header.ArchitectureMessage(), result.architectureText, checks);
  ReadText(file, "system-text", result.header.SystemMessage(), result.systemText, checks);
  return result;
}

}  // namespace packagebuilder
