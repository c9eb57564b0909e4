#include "launch/SetupCommandLine.h"

#include "launch/Arguments.h"
#include "platform/Memory.h"
#include "platform/Platform.h"
#include "run/StubCore.h"

namespace loader {

namespace {

constexpr uint32_t kUniversalNameInfoLevel = 1;  // UNIVERSAL_NAME_INFO_LEVEL
constexpr uint32_t kUniversalNameBufferSize = 2000;
constexpr uint32_t kNoError = 0;

// WNetGetUniversalNameA from mpr.dll in the system folder, or null. The DLL
// is loaded by its full path so that no copy beside the loader (in a
// downloads folder, say) can be picked up instead.
platform::WNetGetUniversalNameFunction FindWNetGetUniversalName() {
  char folder[261];
  const uint32_t length = platform::GetSystemDirectoryA(folder, sizeof folder);
  if (length == 0 || length >= sizeof folder) return nullptr;

  platform::AnsiString path(folder, length);
  if (path[length - 1] != '\\') path.Append('\\');
  path.Append("mpr.dll");

  platform::Module mpr = platform::LoadLibraryA(path.Text());
  if (mpr == nullptr) return nullptr;
  return reinterpret_cast<platform::WNetGetUniversalNameFunction>(
      platform::GetProcAddress(mpr, "WNetGetUniversalNameA"));
}

}  // namespace

platform::AnsiString UniversalPath(const platform::AnsiString& path) {
  platform::AnsiString result(path);
  // Only a drive-letter path can lie on a mapped network drive.
  if (path.Length() < 2 || path[1] != ':') return result;

  platform::WNetGetUniversalNameFunction getUniversalName = FindWNetGetUniversalName();
  if (getUniversalName == nullptr) return result;

  void* buffer = platform::Allocate(kUniversalNameBufferSize);
  uint32_t size = kUniversalNameBufferSize;
  if (getUniversalName(path.Text(), kUniversalNameInfoLevel, buffer, &size) == kNoError) {
    const char* universal = static_cast<const platform::UniversalNameInfo*>(buffer)->UniversalName;
    // The text lies inside the buffer: copy it before the buffer goes.
    if (universal != nullptr) result = platform::AnsiString(universal);
  }
  platform::Release(buffer);
  return result;
}

platform::AnsiString BuildSetupArguments() {
  platform::AnsiString arguments("\"");
  arguments.Append(UniversalPath(LoaderPath()));
  arguments.Append('"');

  const int32_t count = ArgumentCount();
  for (int32_t i = 1; i <= count; ++i) {
    const platform::AnsiString argument = Argument(i);
    arguments.Append(' ');
    // Only the space character decides; an argument with a tab but no space
    // is passed on unquoted.
    if (argument.Contains(' ')) {
      arguments.Append('"');
      arguments.Append(argument);
      arguments.Append('"');
    } else {
      arguments.Append(argument);
    }
  }
  return arguments;
}

platform::AnsiString BuildSetupCommandLine(const platform::AnsiString& copyPath,
                                           const platform::AnsiString& setupArguments) {
  platform::AnsiString commandLine("\"");
  commandLine.Append(copyPath);
  commandLine.Append("\" ");
  commandLine.Append(setupArguments);
  return commandLine;
}

}  // namespace loader
