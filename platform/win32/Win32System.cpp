// Version, registry, run-time lookups and security identifiers.
#include "platform/Platform.h"

#include <windows.h>

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(OSVERSIONINFOEXA) == 156, "OSVERSIONINFOEXA is 156 bytes");

namespace platform {

bool GetVersionExA(OsVersionInfo& info) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!::GetVersionExA(&version)) return false;
  info.MajorVersion = version.dwMajorVersion;
  info.MinorVersion = version.dwMinorVersion;
  info.BuildNumber = version.dwBuildNumber;
  info.PlatformId = version.dwPlatformId;
  return true;
}

bool GetVersionExA(OsVersionInfoEx& info) {
  OSVERSIONINFOEXA version = {};
  version.dwOSVersionInfoSize = sizeof version;
  if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version))) return false;
  info.MajorVersion = version.dwMajorVersion;
  info.MinorVersion = version.dwMinorVersion;
  info.BuildNumber = version.dwBuildNumber;
  info.PlatformId = version.dwPlatformId;
  info.ServicePackMajor = version.wServicePackMajor;
  info.ServicePackMinor = version.wServicePackMinor;
  return true;
}

int32_t RegOpenLocalMachineKeyA(const char* subKey, uint32_t access, Handle* key) {
  HKEY opened = nullptr;
  const LONG result = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, &opened);
  *key = opened;
  return result;
}

int32_t RegQueryValueExA(Handle key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size) {
  DWORD valueType = 0;
  DWORD valueSize = *size;
  const LONG result = ::RegQueryValueExA(static_cast<HKEY>(key), name, nullptr, &valueType, data, &valueSize);
  if (type != nullptr) *type = valueType;
  *size = valueSize;
  return result;
}

void RegCloseKey(Handle key) { ::RegCloseKey(static_cast<HKEY>(key)); }

Module GetModuleHandleA(const char* name) { return ::GetModuleHandleA(name); }

void* GetProcAddress(Module module, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

Module LoadLibraryA(const char* path) { return ::LoadLibraryA(path); }

uint32_t GetSystemDirectoryA(char* buffer, uint32_t size) { return ::GetSystemDirectoryA(buffer, size); }

Handle GetCurrentProcess() { return ::GetCurrentProcess(); }

bool AllocateAndInitializeSid(const uint8_t authority[6], uint8_t subAuthorityCount,
                              const uint32_t subAuthorities[8], Sid* sid) {
  SID_IDENTIFIER_AUTHORITY identifierAuthority;
  for (int i = 0; i < 6; ++i) identifierAuthority.Value[i] = authority[i];
  PSID made = nullptr;
  const BOOL ok = ::AllocateAndInitializeSid(&identifierAuthority, subAuthorityCount, subAuthorities[0],
                                             subAuthorities[1], subAuthorities[2], subAuthorities[3],
                                             subAuthorities[4], subAuthorities[5], subAuthorities[6],
                                             subAuthorities[7], &made);
  *sid = made;
  return ok != FALSE;
}

void FreeSid(Sid sid) { ::FreeSid(sid); }

}  // namespace platform
