#include "extract/TemporaryCopy.h"

#include <string.h>

#include "launch/Arguments.h"
#include "platform/Platform.h"
#include "run/StubCore.h"

namespace loader {

namespace {

constexpr uint32_t kTempPathBufferSize = 256;

// Everything up to and including the last backslash; empty without one.
platform::AnsiString FolderPart(const platform::AnsiString& path) {
  return path.Left(static_cast<size_t>(path.FindLast('\\') + 1));
}

// Everything after the last backslash; the whole path without one.
platform::AnsiString NamePart(const platform::AnsiString& path) {
  return path.From(static_cast<size_t>(path.FindLast('\\') + 1));
}

// The folder for the copy, ending with a backslash: the loader's own when
// "/temp" is the last argument, else the one after the "/temp" nearest to the
// end, else the system's temporary folder.
platform::AnsiString TemporaryFolder() {
  const int32_t count = ArgumentCount();
  if (SwitchEquals(Argument(count), "/temp")) return FolderPart(LoaderPath());

  char buffer[kTempPathBufferSize];
  memset(buffer, 0, sizeof buffer);
  platform::GetTempPathA(kTempPathBufferSize, buffer);
  size_t length = 0;
  while (length < sizeof buffer && buffer[length] != 0) ++length;
  platform::AnsiString folder(buffer, length);
  if (folder.IsEmpty()) folder = "C:\\";

  for (int32_t i = count - 1; i >= 1; --i) {
    if (SwitchEquals(Argument(i), "/temp")) {
      folder = Argument(i + 1);
      break;
    }
  }
  if (folder.IsEmpty() || folder[folder.Length() - 1] != '\\') folder.Append('\\');
  return folder;
}

// `path` with the digits of n before its last four characters (at its start
// when it is shorter than that).
platform::AnsiString NumberedPath(const platform::AnsiString& path, uint32_t n) {
  platform::AnsiString digits;
  digits.AppendDecimal(n);
  platform::AnsiString numbered(path);
  const size_t at = path.Length() < 4 ? 0 : path.Length() - 4;
  numbered.Insert(at, digits.Text(), digits.Length());
  return numbered;
}

// The folder and the loader's file name, numbered from 2 while taken.
platform::AnsiString FreePath(const platform::AnsiString& folder) {
  platform::AnsiString path(folder);
  path.Append(NamePart(LoaderPath()));
  if (!PathExists(path)) return path;
  for (uint32_t n = 2;; ++n) {
    platform::AnsiString candidate = NumberedPath(path, n);
    if (!PathExists(candidate)) return candidate;
  }
}

}  // namespace

bool PathExists(const platform::AnsiString& path) {
  const platform::Handle search = platform::FindFirstFileA(path.Text());
  if (search == platform::InvalidHandle()) return false;
  platform::FindClose(search);
  return true;
}

platform::AnsiString WriteTemporaryCopy(const TStream& output, uint32_t size) {
  platform::AnsiString path = FreePath(TemporaryFolder());

  const platform::Handle file = platform::CreateFileForWriting(path.Text());
  if (file == platform::InvalidHandle()) ShowFatalError(FatalError::TempCopyFailed);
  // Never more than the stream holds; a shortfall is a short write below.
  const uint32_t held = output.Size > 0 ? static_cast<uint32_t>(output.Size) : 0;
  const uint32_t written = platform::WriteFile(file, output.Memory, size < held ? size : held);
  platform::CloseHandle(file);
  if (written != size) {
    platform::DeleteFileA(path.Text());
    ShowFatalError(FatalError::TempCopyFailed);
  }
  return path;
}

}  // namespace loader
