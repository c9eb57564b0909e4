// The loader image a package is appended to: what it must look like, and a
// minimal one for tests.
#include <string>

#include "package/StubTypes.h"
#include "tools/package-writer/PackageWriter.h"

namespace packagewriter {
namespace {

constexpr size_t kPeHeaderPointer = 0x3C;  // e_lfanew in the DOS header
constexpr uint32_t kPeHeaderOffset = 256;
constexpr size_t kLocatorEnd = loader::kLocatorOffset + sizeof(loader::PackageLocator);

}  // namespace

Bytes MinimalStub(size_t size) {
  if (size < kPeHeaderOffset + 4) size = kPeHeaderOffset + 4;
  Bytes stub(size, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  loader::WriteLittle32(stub.data() + kPeHeaderPointer, kPeHeaderOffset);
  stub[kPeHeaderOffset + 0] = 'P';
  stub[kPeHeaderOffset + 1] = 'E';
  return stub;
}

std::string StubProblem(const Bytes& stub) {
  if (stub.size() < kPeHeaderOffset + 4)
    return "the stub is " + std::to_string(stub.size()) + " bytes, too short for a loader image";
  if (stub[0] != 'M' || stub[1] != 'Z') return "the stub is not an executable (no MZ signature)";
  const uint32_t peHeader = loader::ReadLittle32(stub.data() + kPeHeaderPointer);
  if (peHeader != kPeHeaderOffset)
    return "the stub's DOS header points to the PE header at " + std::to_string(peHeader) +
           ", not 256, so offset 128 is not free for the locator";
  if (stub[256] != 'P' || stub[257] != 'E' || stub[258] != 0 || stub[259] != 0)
    return "the stub has no PE header at offset 256";
  loader::PackageLocator locator;
  for (size_t i = 0; i < sizeof locator.Bytes; ++i) locator.Bytes[i] = stub[loader::kLocatorOffset + i];
  for (size_t i = loader::kLocatorOffset; i < kLocatorEnd; ++i) {
    if (stub[i] == 0) continue;
    const uint32_t headerOffset = locator.HeaderOffset();
    if (headerOffset >= kPeHeaderOffset && headerOffset < stub.size())
      return "the stub already carries a package (its locator points to a header at " +
             std::to_string(headerOffset) + "); build from a loader image without one";
    return "the stub's bytes 128..151 are not free for the locator";
  }
  return "";
}

}  // namespace packagewriter
