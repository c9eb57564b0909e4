// The loader's run: the entry calls RunLoader once and then EndProcess. Every
// failure on the road ends the process from where it is met, through
// ShowFatalError or ShowPackageMessage; nothing travels back.
#pragma once

#include <stdint.h>

#include "platform/AnsiString.h"

namespace loader {

// The loader's own fatal errors, each with one fixed text.
enum class FatalError { PackageDamaged, PackageTruncated, TempCopyFailed, LaunchFailed };

// The running Windows version from the run's one GetVersionExA; all zero when
// that query failed.
struct SystemVersion {
  uint32_t MajorVersion;
  uint32_t MinorVersion;
  uint32_t PlatformId;
};

constexpr uint32_t kPlatformWin32Nt = 2;

// The fixed message text of `error`.
const char* FatalErrorText(FatalError error);

// The loader's full path, from GetModuleFileNameA into a 261-byte buffer;
// taken anew at every call.
platform::AnsiString LoaderPath();

// Shows `error`'s text in an error box captioned with LoaderPath(), then ends
// the process with exit code 0. Never returns.
[[noreturn]] void ShowFatalError(FatalError error);

// Ends the process at once with exit code 0, releasing nothing first.
[[noreturn]] void EndProcess();

// The whole run, from opening the loader's own file to the end of the setup
// program. Returns only on the normal road; every failure ends the process.
void RunLoader();

}  // namespace loader
