// The builder on Windows: UTF-8 inside, the UTF-16 ("W") functions outside,
// so file names and texts are not bound to the ANSI code page.
#include <windows.h>
#include <shellapi.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <stdexcept>

#include "tools/package-builder/HostSystem.h"

namespace packagebuilder {
namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], units);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &utf8[0], bytes, nullptr, nullptr);
  return utf8;
}

// The system's text for `code`, one line.
std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length ? std::wstring(text, length) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n' || message.back() == L' ' ||
                              message.back() == L'.'))
    message.pop_back();
  if (message.empty()) return "Windows error " + std::to_string(code);
  return Utf8(message);
}

std::string LastError() { return SystemMessage(GetLastError()); }

// The console's output code page before the run, restored at its end.
UINT g_consoleCodePage = 0;

void RestoreConsoleCodePage() {
  if (g_consoleCodePage) SetConsoleOutputCP(g_consoleCodePage);
}

BOOL WINAPI RestoreConsoleOnInterrupt(DWORD) {
  RestoreConsoleCodePage();
  return FALSE;  // the next handler, in the end the default one, ends the program
}

// The temporary file being written, for the console handler to remove. The
// file is opened with FILE_SHARE_DELETE, so DeleteFileW succeeds while it is
// open and the file goes when the ending process closes it.
wchar_t g_temporaryPath[32768];
volatile LONG g_temporaryActive = 0;

BOOL WINAPI RemoveTemporaryOnInterrupt(DWORD) {
  if (g_temporaryActive) DeleteFileW(g_temporaryPath);
  return FALSE;
}

void Disarm() {
  g_temporaryActive = 0;
  SetConsoleCtrlHandler(RemoveTemporaryOnInterrupt, FALSE);
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

void ShowUtf8OnConsole() {
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == CP_UTF8) return;  // no console, or UTF-8 already
  if (!SetConsoleOutputCP(CP_UTF8)) return;
  g_consoleCodePage = current;
  atexit(RestoreConsoleCodePage);
  SetConsoleCtrlHandler(RestoreConsoleOnInterrupt, TRUE);
}

bool StderrIsTerminal() {
  // A console handle answers GetConsoleMode; a file, a pipe and NUL do not
  // (isatty says yes to NUL, a character device).
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

std::string ProgramFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    path.resize(path.size() * 2);
  }
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string() : Utf8(path.substr(0, slash));
}

FILE* OpenForReading(const std::string& path, uint64_t& size, std::string& error) {
  FILE* file = _wfopen(Wide(path).c_str(), L"rb");
  if (!file) {
    error = strerror(errno);
    return nullptr;
  }
  struct _stat64 info;
  if (_fstat64(_fileno(file), &info) != 0 || (info.st_mode & _S_IFMT) != _S_IFREG) {
    fclose(file);
    error = "not a regular file";
    return nullptr;
  }
  size = static_cast<uint64_t>(info.st_size);
  return file;
}

std::string FolderWriteProblem(const std::string&) {
  // Windows has no cheap test of the right to make files in a folder (the
  // read-only attribute of a folder means nothing); making the temporary
  // file reports a refusal.
  return std::string();
}

struct TReplacementFile::State {
  std::string target;     // as given, for messages
  std::wstring path;      // the temporary file
  HANDLE handle = INVALID_HANDLE_VALUE;
};

TReplacementFile::TReplacementFile(const std::string& target) : state_(new State) {
  state_->target = target;
  const std::wstring wideTarget = Wide(target);
  const size_t slash = wideTarget.find_last_of(L"\\/:");
  const std::wstring folder = slash == std::wstring::npos ? std::wstring() : wideTarget.substr(0, slash + 1);
  const std::wstring name = slash == std::wstring::npos ? wideTarget : wideTarget.substr(slash + 1);
  SetConsoleCtrlHandler(RemoveTemporaryOnInterrupt, TRUE);
  DWORD error = ERROR_FILE_EXISTS;
  for (unsigned attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
    wchar_t suffix[32];
    swprintf(suffix, 32, L".%08lX%02X", static_cast<unsigned long>(GetTickCount() ^ (GetCurrentProcessId() << 16)),
             attempt);
    const std::wstring path = folder + L"." + name + suffix;
    if (path.size() >= sizeof g_temporaryPath / sizeof g_temporaryPath[0]) {
      Disarm();
      throw std::runtime_error("output path too long: " + target);
    }
    memcpy(g_temporaryPath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    state_->handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (state_->handle != INVALID_HANDLE_VALUE) {
      state_->path = path;
      g_temporaryActive = 1;
      return;
    }
    error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS) error = ERROR_FILE_EXISTS;
  }
  Disarm();
  throw std::runtime_error("cannot create a temporary file beside " + target + ": " + SystemMessage(error));
}

TReplacementFile::~TReplacementFile() {
  if (state_->handle != INVALID_HANDLE_VALUE) CloseHandle(state_->handle);
  if (g_temporaryActive) DeleteFileW(state_->path.c_str());
  Disarm();
}

void TReplacementFile::Write(const uint8_t* data, size_t size) {
  while (size > 0) {
    const DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(state_->handle, data, piece, &written, nullptr) || written == 0)
      throw std::runtime_error("cannot write " + Utf8(state_->path) + ": " + LastError());
    data += written;
    size -= written;
  }
}

void TReplacementFile::Commit() {
  if (!FlushFileBuffers(state_->handle)) throw std::runtime_error("cannot write " + Utf8(state_->path) + ": " + LastError());
  const HANDLE handle = state_->handle;
  state_->handle = INVALID_HANDLE_VALUE;
  if (!CloseHandle(handle)) throw std::runtime_error("cannot write " + Utf8(state_->path) + ": " + LastError());
  // One step, replacing the old file; the Windows rename() would refuse an
  // existing target. The W form, as the names are Unicode.
  if (!MoveFileExW(state_->path.c_str(), Wide(state_->target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    throw std::runtime_error("cannot write " + state_->target + ": " + LastError());
  // The file is the output now: nothing to remove.
  g_temporaryActive = 0;
}

}  // namespace packagebuilder
