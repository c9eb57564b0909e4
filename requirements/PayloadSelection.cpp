#include "requirements/PayloadSelection.h"

#include "launch/Arguments.h"
#include "package/PackageMessage.h"

namespace loader {
namespace {

// "/32" anywhere among the arguments after the loader's path, exactly so.
bool Wants32BitBuild() {
  for (int32_t i = ArgumentCount(); i >= 1; --i) {
    if (ExactEquals(Argument(i), "/32")) return true;
  }
  return false;
}

[[noreturn]] void RefuseArchitecture(platform::Handle file, const PackageHeader& header) {
  ShowPackageMessage(file, header.ArchitectureMessage(), platform::AnsiString());
}

}  // namespace

bool Is64BitWindows() {
  // Windows before XP SP2 lacks IsWow64Process, and those are all 32-bit.
  const platform::Module kernel = platform::GetModuleHandleA("kernel32");
  if (kernel == nullptr) return false;
  void* address = platform::GetProcAddress(kernel, "IsWow64Process");
  if (address == nullptr) return false;
  const auto isWow64Process = reinterpret_cast<platform::IsWow64ProcessFunction>(address);
  int32_t wow64 = 0;
  if (isWow64Process(platform::GetCurrentProcess(), &wow64) == 0) return false;
  return wow64 != 0;
}

PayloadDescriptor SelectPayload(platform::Handle file, const PackageHeader& header) {
  const PayloadDescriptor payload32 = header.Payload32();
  const PayloadDescriptor payload64 = header.Payload64();

  // No 32-bit build: the 64-bit one, taken as it stands, or nothing.
  if (payload32.FileOffset == 0) {
    if (!Is64BitWindows()) RefuseArchitecture(file, header);
    return payload64;
  }
  if (payload64.FileOffset == kRefuse64BitWindows) {
    if (Is64BitWindows()) RefuseArchitecture(file, header);
    return payload32;
  }
  if (payload64.FileOffset == 0) return payload32;
  if (Wants32BitBuild()) return payload32;
  return Is64BitWindows() ? payload64 : payload32;
}

}  // namespace loader
