#include "launch/Arguments.h"

#include "platform/Platform.h"
#include "run/StubCore.h"

namespace loader {

namespace {

// The first byte of the character at p, as an unsigned value.
inline uint8_t Lead(const char* p) { return static_cast<uint8_t>(*p); }

// Separators are the space and every control character; bytes 0x80 to 0xFF
// are argument characters.
inline bool IsSeparator(const char* p) { return Lead(p) != 0 && Lead(p) <= 0x20; }

// Takes the whole character at p into `argument` (when one is collected) and
// returns the start of the next character.
const char* TakeCharacter(const char* p, platform::AnsiString* argument) {
  const char* next = platform::CharNextA(p);
  if (argument != nullptr) argument->Append(p, static_cast<size_t>(next - p));
  return next;
}

// Reads one argument from `p`: skips separators and pairs of double quotes,
// then collects characters, a double quote opening a run that ends at the
// next double quote or the end of the text (both quotes dropped). Stores the
// argument in `argument` when it is not null, sets `empty` when nothing was
// taken, and returns where the next argument starts.
const char* ReadArgument(const char* p, platform::AnsiString* argument, bool* empty) {
  for (;;) {
    while (IsSeparator(p)) p = platform::CharNextA(p);
    if (*p == '"' && p[1] == '"') {
      p = platform::CharNextA(platform::CharNextA(p));
      continue;
    }
    break;
  }

  bool taken = false;
  while (Lead(p) > 0x20) {
    if (*p == '"') {
      p = platform::CharNextA(p);
      while (*p != 0 && *p != '"') {
        p = TakeCharacter(p, argument);
        taken = true;
      }
      if (*p == '"') p = platform::CharNextA(p);
    } else {
      p = TakeCharacter(p, argument);
      taken = true;
    }
  }
  *empty = !taken;
  return p;
}

// The command line after the program name.
const char* SkipProgramName() {
  bool empty = false;
  return ReadArgument(platform::GetCommandLineA(), nullptr, &empty);
}

}  // namespace

int32_t ArgumentCount() {
  const char* p = SkipProgramName();
  int32_t count = 0;
  for (;;) {
    bool empty = false;
    p = ReadArgument(p, nullptr, &empty);
    if (empty) return count;
    ++count;
  }
}

platform::AnsiString Argument(int32_t index) {
  if (index == 0) return LoaderPath();
  platform::AnsiString argument;
  if (index < 0) return argument;
  const char* p = SkipProgramName();
  for (int32_t i = 1; i < index; ++i) {
    bool empty = false;
    p = ReadArgument(p, nullptr, &empty);
    if (empty) return argument;
  }
  bool empty = false;
  ReadArgument(p, &argument, &empty);
  return argument;
}

bool SwitchEquals(const platform::AnsiString& argument, const char* switchText) {
  const size_t length = platform::StringLength(switchText);
  if (argument.Length() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    uint8_t a = static_cast<uint8_t>(argument[i]);
    uint8_t s = static_cast<uint8_t>(switchText[i]);
    if (a >= 0x61 && a <= 0x7A) a = static_cast<uint8_t>(a - 0x20);
    if (s >= 0x61 && s <= 0x7A) s = static_cast<uint8_t>(s - 0x20);
    if (a != s) return false;
  }
  return true;
}

bool ExactEquals(const platform::AnsiString& argument, const char* switchText) {
  return argument.Equals(switchText);
}

}  // namespace loader
