// Lays a package out behind the stub and fills the header and the locator.
#include <string.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "package/CRC32.h"
#include "package/StubTypes.h"
#include "tools/package-writer/PackageWriter.h"

namespace packagewriter {
namespace {

namespace at = loader::header_offset;

[[noreturn]] void Refuse(const std::string& reason) { throw std::runtime_error(reason); }

void CheckText(const char* what, const std::u16string& text) {
  if (text.size() > kMaxTextUnits)
    Refuse(std::string(what) + " is " + std::to_string(text.size()) +
           " UTF-16 units long; a package text holds at most 65535");
}

// Hands out file offsets in order and refuses any that would reach 2^31.
class OffsetCounter {
 public:
  explicit OffsetCounter(uint64_t start) : next_(start) {}
  uint32_t Take(uint64_t length, const char* what) {
    const uint64_t start = next_;
    next_ += length;
    if (next_ >= kOffsetLimit)
      Refuse(std::string("the package would reach offset ") + std::to_string(next_) + " with the " + what +
             "; package offsets must stay below 2^31");
    return static_cast<uint32_t>(start);
  }
  uint32_t Next() const { return static_cast<uint32_t>(next_); }

 private:
  uint64_t next_;
};

struct CompressedPayload {
  Bytes stream;
  uint32_t decompressedSize = 0;
};

CompressedPayload Compress(const char* name, const Bytes& program, const LzmaSettings& settings,
                           const BuildProgressFunction& progress) {
  if (program.size() > kMaxPayloadSize)
    Refuse(std::string(name) + " is " + std::to_string(program.size()) +
           " bytes; a payload can be at most 2147352576 (0x7FFE0000)");
  ProgressFunction report;
  if (progress) report = [&](uint64_t done, uint64_t total) { progress(name, done, total); };
  CompressedPayload payload{CompressRaw(program, settings, report), static_cast<uint32_t>(program.size())};
  if (payload.stream.size() > kMaxPayloadSize)
    Refuse(std::string(name) + " compresses to " + std::to_string(payload.stream.size()) +
           " bytes; a compressed payload can be at most 2147352576 (0x7FFE0000)");
  return payload;
}

void PutDescriptor(loader::PackageHeader& header, unsigned field, uint32_t offset, uint32_t compressed,
                   uint32_t decompressed) {
  loader::WriteLittle32(header.Bytes + field, offset);
  loader::WriteLittle32(header.Bytes + field + 4, compressed);
  loader::WriteLittle32(header.Bytes + field + 8, decompressed);
}

void PutMessage(loader::PackageHeader& header, unsigned field, uint32_t offset, const std::u16string& text) {
  // An empty text is stored as offset 0 and length 0.
  loader::WriteLittle32(header.Bytes + field, text.empty() ? 0 : offset);
  loader::WriteLittle16(header.Bytes + field + 4, static_cast<uint16_t>(text.size()));
}

void AppendText(Bytes& out, const std::u16string& text) {
  for (char16_t unit : text) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  }
}

// Copies `length` bytes of `record` into `file` at `offset`, clipped to the file.
void PutClipped(Bytes& file, uint64_t offset, const uint8_t* record, size_t length) {
  if (offset >= file.size()) return;
  memcpy(file.data() + offset, record, std::min<uint64_t>(length, file.size() - offset));
}

}  // namespace

BuiltPackage BuildPackage(const PackageSpec& inputs, const BuildProgressFunction& progress) {
  const std::string stubProblem = StubProblem(inputs.stub);
  if (!stubProblem.empty()) Refuse(stubProblem);
  if (!inputs.setup32 && !inputs.setup64) Refuse("the package has no payload: give a 32-bit or a 64-bit setup program");
  CheckText("the architecture text", inputs.architectureMessage);
  CheckText("the system text", inputs.systemMessage);

  CompressedPayload payload32, payload64;
  if (inputs.setup32) payload32 = Compress("setup32", *inputs.setup32, inputs.lzma, progress);
  if (inputs.setup64) payload64 = Compress("setup64", *inputs.setup64, inputs.lzma, progress);

  OffsetCounter offsets(inputs.stub.size());
  const uint32_t headerOffset = offsets.Take(sizeof(loader::PackageHeader), "header");
  const uint32_t payload32Offset = offsets.Take(payload32.stream.size(), "32-bit payload");
  const uint32_t payload64Offset = offsets.Take(payload64.stream.size(), "64-bit payload");
  const uint32_t architectureOffset = offsets.Take(2 * uint64_t(inputs.architectureMessage.size()), "architecture text");
  const uint32_t systemOffset = offsets.Take(2 * uint64_t(inputs.systemMessage.size()), "system text");
  const uint32_t endOfTexts = offsets.Next();
  offsets.Take(inputs.extraInside.size(), "data inside the checksum range");
  const uint32_t checksumEnd = offsets.Next();
  offsets.Take(inputs.extraOutside.size(), "data after the checksum range");
  const uint32_t packageEnd = offsets.Next();

  BuiltPackage built;
  loader::PackageHeader& header = built.header;
  memset(header.Bytes, 0, sizeof header.Bytes);
  header.Bytes[at::LzmaProperties] = PropertiesByte(inputs.lzma);
  loader::WriteLittle32(header.Bytes + at::LzmaProperties + 1, inputs.lzma.dictionarySize);
  for (int i = 0; i < 8; ++i)
    header.Bytes[at::SupportedSystems + i] = static_cast<uint8_t>(inputs.supportedSystems >> (8 * i));
  loader::WriteLittle16(header.Bytes + at::MinReleaseId, inputs.minReleaseId);
  loader::WriteLittle16(header.Bytes + at::MaxReleaseId, inputs.maxReleaseId);
  header.Bytes[at::ElevationMode] = inputs.elevationMode;
  if (inputs.setup32)
    PutDescriptor(header, at::Payload32, payload32Offset, payload32.stream.size(), payload32.decompressedSize);
  if (inputs.setup64)
    PutDescriptor(header, at::Payload64, payload64Offset, payload64.stream.size(), payload64.decompressedSize);
  else if (inputs.without64 == Declare64::RefuseOn64BitWindows)
    PutDescriptor(header, at::Payload64, loader::kRefuse64BitWindows, 0, 0);
  loader::WriteLittle32(header.Bytes + at::EndOfData, endOfTexts);
  PutMessage(header, at::ArchitectureMessage, architectureOffset, inputs.architectureMessage);
  PutMessage(header, at::SystemMessage, systemOffset, inputs.systemMessage);

  Bytes& file = built.bytes;
  file.reserve(packageEnd + inputs.trailing.size());
  file = inputs.stub;
  file.insert(file.end(), header.Bytes, header.Bytes + sizeof header.Bytes);
  file.insert(file.end(), payload32.stream.begin(), payload32.stream.end());
  file.insert(file.end(), payload64.stream.begin(), payload64.stream.end());
  AppendText(file, inputs.architectureMessage);
  AppendText(file, inputs.systemMessage);
  file.insert(file.end(), inputs.extraInside.begin(), inputs.extraInside.end());
  file.insert(file.end(), inputs.extraOutside.begin(), inputs.extraOutside.end());
  file.insert(file.end(), inputs.trailing.begin(), inputs.trailing.end());

  const uint32_t checksumLength = checksumEnd - headerOffset;
  loader::PackageLocator& locator = built.locator;
  loader::WriteLittle32(locator.Bytes + 0, headerOffset);
  loader::WriteLittle32(locator.Bytes + 4, checksumLength);
  loader::WriteLittle32(locator.Bytes + 8, loader::Crc32(file.data() + headerOffset, static_cast<int32_t>(checksumLength)));
  loader::WriteLittle32(locator.Bytes + 12, packageEnd);
  loader::WriteLittle32(locator.Bytes + 16, 0);
  loader::WriteLittle32(locator.Bytes + 20, inputs.detached ? packageEnd : 0);
  PutClipped(file, loader::kLocatorOffset, locator.Bytes, sizeof locator.Bytes);

  built.architectureMessageOffset = inputs.architectureMessage.empty() ? 0 : architectureOffset;
  built.systemMessageOffset = inputs.systemMessage.empty() ? 0 : systemOffset;
  built.checksumRangeEnd = checksumEnd;
  built.packageEnd = packageEnd;
  return built;
}

void Rewrite(BuiltPackage& package, bool recomputeChecksum) {
  Bytes& file = package.bytes;
  const uint32_t headerOffset = package.locator.HeaderOffset();
  if (headerOffset != 0) PutClipped(file, headerOffset, package.header.Bytes, sizeof package.header.Bytes);
  if (recomputeChecksum) {
    uint64_t start = std::min<uint64_t>(headerOffset, file.size());
    uint64_t end = std::min<uint64_t>(start + package.locator.ChecksumLength(), file.size());
    uint64_t length = std::min<uint64_t>(end - start, 0x7FFFFFFF);
    loader::WriteLittle32(package.locator.Bytes + 8,
                          loader::Crc32(file.data() + start, static_cast<int32_t>(length)));
  }
  PutClipped(file, loader::kLocatorOffset, package.locator.Bytes, sizeof package.locator.Bytes);
}

}  // namespace packagewriter
