#include "package/PackageHeader.h"

#include "run/StubCore.h"

namespace loader {

PackageHeader ReadPackageHeader(platform::Handle file, const PackageLocator& locator) {
  PackageHeader header;
  platform::SetFilePointer(file, static_cast<int32_t>(locator.HeaderOffset()));
  if (platform::ReadFile(file, header.Bytes, sizeof header.Bytes) != sizeof header.Bytes) {
    ShowFatalError(FatalError::PackageDamaged);
  }
  return header;
}

}  // namespace loader
