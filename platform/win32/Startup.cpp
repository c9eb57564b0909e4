#include "platform/win32/Startup.h"

#include <stddef.h>
#include <windows.h>

// The linker's list of static constructors: -1, the constructors, then null.
extern "C" void (*__CTOR_LIST__[])();

namespace platform {

namespace {

constexpr DWORD kLoadLibrarySearchSystem32 = 0x800;

using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directoryFlags);
using SetDllDirectoryFunction = BOOL(WINAPI*)(LPCSTR pathName);

void* FindKernelFunction(HMODULE kernel, const char* name) {
  return reinterpret_cast<void*>(::GetProcAddress(kernel, name));
}

}  // namespace

void RestrictDllSearch() {
  const HMODULE kernel = ::GetModuleHandleA("kernel32");
  if (kernel == nullptr) return;
  // Windows 8 on, and 7 and Vista with the update that added it.
  if (const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
          FindKernelFunction(kernel, "SetDefaultDllDirectories"))) {
    if (setDefault(kLoadLibrarySearchSystem32)) return;
  }
  // Windows XP SP1 on: at least the current folder leaves the search.
  if (const auto setDirectory =
          reinterpret_cast<SetDllDirectoryFunction>(FindKernelFunction(kernel, "SetDllDirectoryA"))) {
    setDirectory("");
  }
}

void RunStaticConstructors() {
  size_t count = 0;
  while (__CTOR_LIST__[count + 1] != nullptr) ++count;
  // Last first, as the linker collects them in reverse order of priority.
  for (size_t i = count; i >= 1; --i) __CTOR_LIST__[i]();
}

}  // namespace platform
