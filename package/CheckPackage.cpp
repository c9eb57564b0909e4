#include "package/CheckPackage.h"

#include "package/CRC32.h"
#include "platform/Memory.h"
#include "run/StubCore.h"

namespace loader {
namespace {

// The minimum file size is compared as a signed 64-bit number: the high parts
// as signed, then, only when they are equal, the low parts as unsigned.
bool IsShorterThan(uint32_t sizeHigh, uint32_t sizeLow, uint32_t minimumHigh, uint32_t minimumLow) {
  const int32_t high = static_cast<int32_t>(sizeHigh);
  const int32_t minimum = static_cast<int32_t>(minimumHigh);
  if (high != minimum) return high < minimum;
  return sizeLow < minimumLow;
}

}  // namespace

PackageLocator CheckPackage(platform::Handle file) {
  PackageLocator locator;
  platform::SetFilePointer(file, static_cast<int32_t>(kLocatorOffset));
  if (platform::ReadFile(file, locator.Bytes, sizeof locator.Bytes) != sizeof locator.Bytes ||
      locator.HeaderOffset() == 0) {
    ShowFatalError(FatalError::PackageDamaged);
  }

  // The size test comes before any read of the package, so that a cut
  // download says so rather than "damaged".
  uint32_t sizeHigh = 0;
  const uint32_t sizeLow = platform::GetFileSize(file, &sizeHigh);
  if (locator.DetachedFileSize() != 0) {
    if (locator.DetachedFileSize() > sizeLow) ShowFatalError(FatalError::PackageTruncated);
  } else if (IsShorterThan(sizeHigh, sizeLow, locator.ExpectedSizeHigh(), locator.ExpectedSizeLow())) {
    ShowFatalError(FatalError::PackageTruncated);
  }

  // Offsets and lengths are signed 32-bit distances: the upper half cannot be
  // reached, so such a package is refused outright.
  const int32_t length = static_cast<int32_t>(locator.ChecksumLength());
  if (length < 0 || static_cast<int32_t>(locator.HeaderOffset()) < 0) ShowFatalError(FatalError::PackageDamaged);
  // A range that runs past the end of the file cannot be read whole either;
  // it is refused before its buffer is asked of the heap, so that a damaged
  // locator says "damaged" however much memory there is.
  const uint64_t fileSize = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  if (static_cast<uint64_t>(locator.HeaderOffset()) + static_cast<uint32_t>(length) > fileSize) {
    ShowFatalError(FatalError::PackageDamaged);
  }

  uint8_t* range = length > 0 ? static_cast<uint8_t*>(platform::Allocate(static_cast<size_t>(length))) : nullptr;
  platform::SetFilePointer(file, static_cast<int32_t>(locator.HeaderOffset()));
  const uint32_t read = length > 0 ? platform::ReadFile(file, range, static_cast<uint32_t>(length)) : 0;
  if (read != static_cast<uint32_t>(length) || Crc32(range, length) != locator.Checksum()) {
    ShowFatalError(FatalError::PackageDamaged);
  }
  platform::Release(range);
  return locator;
}

}  // namespace loader
