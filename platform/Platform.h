// The Windows operations the loader's logic calls, in the project's own types.
//
// The logic never includes windows.h. Two implementations sit behind these
// declarations, chosen at link time: platform/win32/ (the real ANSI calls) and
// platform/simulated/ (an in-memory Windows for the host tests and the
// simulator). Each declaration names the Windows call it stands for and what
// the loader passes to it; the win32 side passes exactly that.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define PLATFORM_API __stdcall
#else
#define PLATFORM_API
#endif

namespace platform {

using Handle = void*;  // a kernel handle: file, search, key, process
using Module = void*;  // a loaded DLL
using Sid = void*;     // a security identifier made by AllocateAndInitializeSid

// The value CreateFileA and FindFirstFileA return on failure.
inline Handle InvalidHandle() { return reinterpret_cast<Handle>(static_cast<intptr_t>(-1)); }

// ---- Loader's own identity and command line ------------------------------

// GetModuleFileNameA(null, buffer, size): the running executable's path.
// Returns the number of characters stored (the buffer is NUL-terminated).
uint32_t GetModuleFileNameA(char* buffer, uint32_t size);

// GetCommandLineA: the process command line as the system reports it.
const char* GetCommandLineA();

// CharNextA: the start of the ANSI character after the one at p.
const char* CharNextA(const char* p);

// ---- Files ----------------------------------------------------------------

// CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, null, OPEN_EXISTING, 0, null).
Handle OpenFileForReading(const char* path);

// CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, null, CREATE_ALWAYS,
// FILE_ATTRIBUTE_NORMAL, null).
Handle CreateFileForWriting(const char* path);

// SetFilePointer(file, distance, null, FILE_BEGIN); its result is not used.
void SetFilePointer(Handle file, int32_t distance);

// ReadFile with one call: returns the number of bytes read (0 on failure).
uint32_t ReadFile(Handle file, void* buffer, uint32_t count);

// WriteFile with one call: returns the number of bytes written (0 on failure).
uint32_t WriteFile(Handle file, const void* buffer, uint32_t count);

// GetFileSize(file, &high): the low 32 bits, the high 32 bits through `high`.
uint32_t GetFileSize(Handle file, uint32_t* high);

void CloseHandle(Handle handle);
void DeleteFileA(const char* path);

// FindFirstFileA(path, &findData): a search handle, or InvalidHandle().
Handle FindFirstFileA(const char* path);
void FindClose(Handle search);

// GetTempPathA(size, buffer): the result is not used by the loader.
uint32_t GetTempPathA(uint32_t size, char* buffer);

// ---- Version, registry ----------------------------------------------------

// What GetVersionExA fills in an OSVERSIONINFOA (size 148).
struct OsVersionInfo {
  uint32_t MajorVersion;
  uint32_t MinorVersion;
  uint32_t BuildNumber;
  uint32_t PlatformId;
};

// What GetVersionExA fills in an OSVERSIONINFOEXA (size 156).
struct OsVersionInfoEx {
  uint32_t MajorVersion;
  uint32_t MinorVersion;
  uint32_t BuildNumber;
  uint32_t PlatformId;
  uint16_t ServicePackMajor;
  uint16_t ServicePackMinor;
};

// GetVersionExA on a zeroed OSVERSIONINFOA of size 148; true on success.
bool GetVersionExA(OsVersionInfo& info);
// GetVersionExA on a zeroed OSVERSIONINFOEXA of size 156; true on success.
bool GetVersionExA(OsVersionInfoEx& info);

// RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, &key): 0 on success.
int32_t RegOpenLocalMachineKeyA(const char* subKey, uint32_t access, Handle* key);
// RegQueryValueExA(key, name, null, &type, data, &size): 0 on success.
int32_t RegQueryValueExA(Handle key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size);
void RegCloseKey(Handle key);

// ---- Functions looked up at run time --------------------------------------

Module GetModuleHandleA(const char* name);
void* GetProcAddress(Module module, const char* name);
// LoadLibraryA with a full path; null when it cannot be loaded.
Module LoadLibraryA(const char* path);
// GetSystemDirectoryA(buffer, size): the length of the path, 0 on failure.
uint32_t GetSystemDirectoryA(char* buffer, uint32_t size);

using IsWow64ProcessFunction = int32_t(PLATFORM_API*)(Handle process, int32_t* wow64);
using CheckTokenMembershipFunction = int32_t(PLATFORM_API*)(Handle token, Sid sid, int32_t* isMember);
using WNetGetUniversalNameFunction = uint32_t(PLATFORM_API*)(const char* localPath, uint32_t infoLevel,
                                                              void* buffer, uint32_t* bufferSize);

// UNIVERSAL_NAME_INFOA: the record WNetGetUniversalNameA leaves at the start
// of its buffer.
struct UniversalNameInfo {
  char* UniversalName;
};

Handle GetCurrentProcess();

// ---- Security --------------------------------------------------------------

// AllocateAndInitializeSid(authority, count, sub[0..7], &sid): true on success.
bool AllocateAndInitializeSid(const uint8_t authority[6], uint8_t subAuthorityCount,
                              const uint32_t subAuthorities[8], Sid* sid);
void FreeSid(Sid sid);

// ---- Processes -------------------------------------------------------------

struct ProcessInformation {
  Handle Process;
  Handle Thread;
  uint32_t ProcessId;
  uint32_t ThreadId;
};

// CreateProcessA(null, commandLine, null, null, FALSE, 0, null,
// currentDirectory, &startupInfo /* zeroed, cb 68 */, &info): true when started.
// The command line buffer may be changed by the call, as Windows allows.
bool CreateProcessA(char* commandLine, const char* currentDirectory, ProcessInformation& info);

// The fields of SHELLEXECUTEINFOA the loader sets or reads. The call fills a
// zeroed record of size 60 with fMask SEE_MASK_NOCLOSEPROCESS, nShow SW_SHOW,
// no window and no directory.
struct ShellExecuteRecord {
  const char* Verb;
  const char* File;
  const char* Parameters;
  Handle Process;  // out
};

// ShellExecuteExA with the record above: true when started.
bool ShellExecuteExA(ShellExecuteRecord& record);

// WaitForSingleObject(handle, INFINITE); its result is not used.
void WaitForSingleObject(Handle handle);

// ---- User interface and text -----------------------------------------------

constexpr uint32_t MB_ICONERROR = 0x10;

// MessageBoxA(null, text, caption, style).
int32_t MessageBoxA(const char* text, const char* caption, uint32_t style);

uint32_t GetACP();
// MultiByteToWideChar(codePage, 0, ...): units written (or needed when
// wideCount is 0).
int32_t MultiByteToWideChar(uint32_t codePage, const char* text, int32_t count, uint16_t* wide, int32_t wideCount);
// WideCharToMultiByte(codePage, 0, ..., null, null): bytes written (or needed
// when byteCount is 0).
int32_t WideCharToMultiByte(uint32_t codePage, const uint16_t* wide, int32_t count, char* text, int32_t byteCount);

// ---- Process end and memory -------------------------------------------------

// ExitProcess(exitCode). In the simulated Windows this unwinds to the test.
[[noreturn]] void ExitProcess(uint32_t exitCode);

// The process heap: HeapAlloc, HeapReAlloc (may move), HeapFree. Null on
// failure; the contents of a new block are not cleared.
void* HeapAlloc(size_t size);
void* HeapReAlloc(void* block, size_t size);
void HeapFree(void* block);

}  // namespace platform
