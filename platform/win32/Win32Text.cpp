// Message boxes and text conversion in the system's ANSI code page.
#include "platform/Platform.h"

#include <windows.h>

namespace platform {

const char* CharNextA(const char* p) { return ::CharNextA(p); }

int32_t MessageBoxA(const char* text, const char* caption, uint32_t style) {
  return ::MessageBoxA(nullptr, text, caption, style);
}

uint32_t GetACP() { return ::GetACP(); }

int32_t MultiByteToWideChar(uint32_t codePage, const char* text, int32_t count, uint16_t* wide, int32_t wideCount) {
  return ::MultiByteToWideChar(codePage, 0, text, count, reinterpret_cast<wchar_t*>(wide), wideCount);
}

int32_t WideCharToMultiByte(uint32_t codePage, const uint16_t* wide, int32_t count, char* text, int32_t byteCount) {
  return ::WideCharToMultiByte(codePage, 0, reinterpret_cast<const wchar_t*>(wide), count, text, byteCount, nullptr,
                               nullptr);
}

}  // namespace platform
