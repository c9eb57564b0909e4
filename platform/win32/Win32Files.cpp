// Files and the loader's own identity, over kernel32's ANSI calls.
#include "platform/Platform.h"

#include <windows.h>

namespace platform {

uint32_t GetModuleFileNameA(char* buffer, uint32_t size) { return ::GetModuleFileNameA(nullptr, buffer, size); }

const char* GetCommandLineA() { return ::GetCommandLineA(); }

Handle OpenFileForReading(const char* path) {
  return ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

Handle CreateFileForWriting(const char* path) {
  return ::CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

void SetFilePointer(Handle file, int32_t distance) { ::SetFilePointer(file, distance, nullptr, FILE_BEGIN); }

uint32_t ReadFile(Handle file, void* buffer, uint32_t count) {
  DWORD read = 0;
  ::ReadFile(file, buffer, count, &read, nullptr);
  return read;
}

uint32_t WriteFile(Handle file, const void* buffer, uint32_t count) {
  DWORD written = 0;
  ::WriteFile(file, buffer, count, &written, nullptr);
  return written;
}

uint32_t GetFileSize(Handle file, uint32_t* high) {
  DWORD highPart = 0;
  const DWORD low = ::GetFileSize(file, &highPart);
  *high = highPart;
  return low;
}

void CloseHandle(Handle handle) { ::CloseHandle(handle); }

void DeleteFileA(const char* path) { ::DeleteFileA(path); }

Handle FindFirstFileA(const char* path) {
  WIN32_FIND_DATAA findData;
  return ::FindFirstFileA(path, &findData);
}

void FindClose(Handle search) { ::FindClose(search); }

uint32_t GetTempPathA(uint32_t size, char* buffer) { return ::GetTempPathA(size, buffer); }

}  // namespace platform
