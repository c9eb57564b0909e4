#include "extract/NoRTLStream.h"
#include "extract/PayloadDecoder.h"
#include "extract/TemporaryCopy.h"
#include "launch/LaunchSetup.h"
#include "launch/SetupCommandLine.h"
#include "package/CheckPackage.h"
#include "package/PackageHeader.h"
#include "platform/Platform.h"
#include "requirements/PayloadSelection.h"
#include "requirements/WindowsVersion.h"
#include "run/StubCore.h"

namespace loader {

void RunLoader() {
  // 1. The loader's own file, readable by others but not writable while open.
  platform::Handle file = platform::OpenFileForReading(LoaderPath().Text());
  if (file == platform::InvalidHandle()) ShowFatalError(FatalError::PackageDamaged);

  // 2-3. The package is complete and intact; its header says what it holds.
  const PackageLocator locator = CheckPackage(file);
  const PackageHeader header = ReadPackageHeader(file, locator);

  // 4. The build that fits this architecture, or the architecture refusal.
  const PayloadDescriptor payload = SelectPayload(file, header);

  // 5. One version query; the gate runs only when it answered.
  SystemVersion version = {0, 0, 0};
  platform::OsVersionInfo info = {};
  if (platform::GetVersionExA(info)) {
    version = {info.MajorVersion, info.MinorVersion, info.PlatformId};
    CheckWindowsVersion(file, header, version);
  }

  // 6-7. The setup program in memory, then on disk.
  DecodedPayload decoded = DecodePayload(file, header, payload);
  const platform::AnsiString copyPath = WriteTemporaryCopy(*decoded.Output, payload.DecompressedSize);

  // 8. Nothing stays held while the setup program runs: innermost first.
  delete decoded.Output;
  delete decoded.Input;
  platform::CloseHandle(file);

  // 9-10. Start it with the loader's path and arguments.
  const platform::AnsiString setupArguments = BuildSetupArguments();
  LaunchSetup(copyPath, setupArguments, locator, header, version);
}

}  // namespace loader
