#include "package/PackageMessage.h"

#include <string.h>

#include "platform/Memory.h"
#include "platform/WideString.h"
#include "run/StubCore.h"

namespace loader {
namespace {

const uint16_t kUpperPlaceholder[6] = {'%', 'U', 'S', 'E', 'R', '%'};
const uint16_t kLowerPlaceholder[6] = {'%', 'u', 's', 'e', 'r', '%'};
constexpr size_t kPlaceholderLength = 6;

// The longest text the conversion calls take (their counts are signed 32-bit).
constexpr uint64_t kLongestText = 0x7FFFFFFF;

bool PlaceholderAt(const uint16_t* text, size_t length, size_t position, const uint16_t* placeholder) {
  return position + kPlaceholderLength <= length &&
         memcmp(text + position, placeholder, kPlaceholderLength * sizeof(uint16_t)) == 0;
}

// Index of the first "%USER%" at or after `from`, or `length` when none.
size_t NextUpperPlaceholder(const uint16_t* text, size_t length, size_t from) {
  for (size_t i = from; i + kPlaceholderLength <= length; ++i) {
    if (PlaceholderAt(text, length, i, kUpperPlaceholder)) return i;
  }
  return length;
}

// Writes `text` with its placeholders replaced by `name` into `out` (which
// may be null, to measure) and returns the resulting length.
//
// Every "%USER%" of the text as read is replaced first, leftmost first; then
// every "%user%" in what lies between them. The inserted name is never
// searched, so a name that itself holds a placeholder is shown as it is and
// the replacement always ends.
uint64_t Substitute(const uint16_t* text, size_t length, const uint16_t* name, size_t nameLength, uint16_t* out) {
  uint64_t written = 0;
  size_t nextUpper = NextUpperPlaceholder(text, length, 0);
  size_t i = 0;
  while (i < length) {
    const bool upper = i == nextUpper;
    // A "%user%" counts only when it does not reach into the next "%USER%",
    // which the first round of replacement would already have taken.
    const bool lower = !upper && i + kPlaceholderLength <= nextUpper &&
                       PlaceholderAt(text, length, i, kLowerPlaceholder);
    if (upper || lower) {
      if (out != nullptr) memcpy(out + written, name, nameLength * sizeof(uint16_t));
      written += nameLength;
      i += kPlaceholderLength;
      if (upper) nextUpper = NextUpperPlaceholder(text, length, i);
    } else {
      if (out != nullptr) out[written] = text[i];
      ++written;
      ++i;
    }
  }
  return written;
}

// The substitution text in UTF-16, by the system's ANSI code page.
void ConvertName(const platform::AnsiString& name, platform::WideString& wide) {
  if (name.Length() > kLongestText) EndProcess();
  const int32_t count = static_cast<int32_t>(name.Length());
  const uint32_t codePage = platform::GetACP();
  const int32_t needed = platform::MultiByteToWideChar(codePage, name.Text(), count, nullptr, 0);
  if (needed <= 0) return;
  const int32_t converted =
      platform::MultiByteToWideChar(codePage, name.Text(), count, wide.Resize(static_cast<size_t>(needed)), needed);
  wide.Resize(converted > 0 ? static_cast<size_t>(converted) : 0);
}

}  // namespace

void ShowPackageMessage(platform::Handle file, const MessageRef& message, const platform::AnsiString& substitution) {
  platform::WideString text;
  if (message.Length > 0) {
    // The seek takes a signed distance: an offset in the upper half of the
    // 32-bit range cannot be reached, and reading from wherever the file
    // position happens to be would show the wrong bytes.
    if (static_cast<int32_t>(message.Offset) < 0) ShowFatalError(FatalError::PackageDamaged);
    const uint32_t byteCount = 2u * message.Length;
    uint16_t* units = text.Resize(message.Length);
    platform::SetFilePointer(file, static_cast<int32_t>(message.Offset));
    if (platform::ReadFile(file, units, byteCount) != byteCount) ShowFatalError(FatalError::PackageDamaged);
  }

  // The text as shown: either as read, or rebuilt around the name.
  const uint16_t* shown = text.Units();
  size_t shownLength = text.Length();
  platform::WideString name;
  platform::WideString substituted;
  if (!substitution.IsEmpty() && shownLength > 0) {
    ConvertName(substitution, name);
    const uint64_t length = Substitute(shown, shownLength, name.Units(), name.Length(), nullptr);
    if (length > kLongestText) EndProcess();
    Substitute(shown, shownLength, name.Units(), name.Length(), substituted.Resize(static_cast<size_t>(length)));
    shown = substituted.Units();
    shownLength = substituted.Length();
  }

  // The whole length is converted, NUL units included; the box shows the text
  // up to the first NUL.
  char* converted = nullptr;
  if (shownLength > 0) {
    const uint32_t codePage = platform::GetACP();
    const int32_t count = static_cast<int32_t>(shownLength);
    const int32_t needed = platform::WideCharToMultiByte(codePage, shown, count, nullptr, 0);
    if (needed > 0) {
      converted = static_cast<char*>(platform::Allocate(static_cast<size_t>(needed) + 1));
      const int32_t written = platform::WideCharToMultiByte(codePage, shown, count, converted, needed);
      converted[written > 0 ? written : 0] = 0;
    }
  }

  platform::MessageBoxA(converted != nullptr ? converted : "", LoaderPath().Text(), platform::MB_ICONERROR);
  EndProcess();
}

}  // namespace loader
