// Writes setup packages: appends the header, the compressed payloads, the
// refusal texts and any extra package data to a loader image, and fills the
// locator at offset 128. The package builder is built on it, and the tests
// make their fixtures with it: every record field can be overridden after
// BuildPackage and written back with Rewrite, to make broken packages.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "package/StubTypes.h"

namespace packagewriter {

using Bytes = std::vector<uint8_t>;

// What the loader can use: a stream holds at most kMaxPayloadSize bytes, a
// text at most kMaxTextUnits UTF-16 units, and every package offset and size
// stays below 2^31 (the loader seeks with a signed 32-bit distance).
constexpr uint32_t kMaxPayloadSize = 0x7FFE0000u;
constexpr uint32_t kMaxTextUnits = 0xFFFFu;
constexpr uint64_t kOffsetLimit = 0x80000000u;

// Called while a payload is compressed: bytes of input done and in all.
using ProgressFunction = std::function<void(uint64_t done, uint64_t total)>;
// The same while a package is built, naming the payload ("setup32", "setup64").
using BuildProgressFunction = std::function<void(const std::string& payload, uint64_t done, uint64_t total)>;

// How the payloads are compressed (raw LZMA1).
struct LzmaSettings {
  uint32_t preset = 6;                  // 0..9, liblzma's presets
  uint32_t dictionarySize = 1u << 20;   // bytes
  uint32_t lc = 3, lp = 0, pb = 2;
  bool endMarker = false;               // write an end marker after the data
};

// What the package declares about a 64-bit build when it has no setup64.
enum class Declare64 { None, RefuseOn64BitWindows };

// Everything that goes into a package.
struct PackageSpec {
  Bytes stub;                       // the loader image; bytes 128..151 must be free
  std::optional<Bytes> setup32;     // the 32-bit setup program, uncompressed
  std::optional<Bytes> setup64;     // the 64-bit setup program, uncompressed
  Declare64 without64 = Declare64::None;  // used when setup64 is absent
  uint64_t supportedSystems = ~0ull;      // element n is bit n
  uint16_t minReleaseId = 0;
  uint16_t maxReleaseId = 0xFFFF;
  uint8_t elevationMode = 0;
  std::u16string architectureMessage;     // UTF-16, as stored
  std::u16string systemMessage;
  Bytes extraInside;    // package data the loader does not read, inside the checksum range
  Bytes extraOutside;   // the same, after the checksum range (still inside the package)
  Bytes trailing;       // bytes after the package (a signature, say); not part of it
  bool detached = false;  // DetachedFileSize = the package's end, no wait, no deletion
  LzmaSettings lzma;
};

// A built package and where its parts lie, all as absolute file offsets.
struct BuiltPackage {
  Bytes bytes;                       // the whole file
  loader::PackageLocator locator;    // as written at offset 128
  loader::PackageHeader header;      // as written at HeaderOffset
  uint32_t architectureMessageOffset = 0;
  uint32_t systemMessageOffset = 0;
  uint32_t checksumRangeEnd = 0;     // HeaderOffset + ChecksumLength
  uint32_t packageEnd = 0;           // the minimum file size
};

// Builds the package: stub | header | payload32 | payload64 | architecture
// text | system text | extraInside | extraOutside | trailing, the checksum
// range running from the header through extraInside. The same inputs always
// gives the same bytes. Throws std::runtime_error with a one-line reason for
// input the loader could not use (a stub without a free locator slot, no
// payload at all, a payload above 0x7FFE0000 bytes, a text above 65535 units,
// offsets that reach 2^31, LZMA settings out of range). `progress`, when
// given, hears about each payload's compression.
BuiltPackage BuildPackage(const PackageSpec& inputs, const BuildProgressFunction& progress = {});

// Writes `package.header` at the locator's HeaderOffset (not when that is 0)
// and then `package.locator` at offset 128, each only as far as the file
// holds it (the file never grows). With `recomputeChecksum`, Checksum is
// first set to the CRC-32 of the range the locator names (as far as the file
// holds it), taken after the header has been written.
void Rewrite(BuiltPackage& package, bool recomputeChecksum = true);

// Raw LZMA1 compression (no header) of `data` with `settings`: liblzma's
// preset, then lc, lp, pb and a window of the dictionary size cut to the
// input's size and kept within 4 KiB..1.5 GiB (a stream never needs more
// window than the header states, so it decodes with the stored size); an
// end marker only when asked for. Deterministic. Throws std::runtime_error
// for settings out of range or refused by liblzma (lc + lp above 4, say).
Bytes CompressRaw(const Bytes& data, const LzmaSettings& settings, const ProgressFunction& progress = {});

// The properties byte (pb * 5 + lp) * 9 + lc.
uint8_t PropertiesByte(const LzmaSettings& settings);

// UTF-8 to UTF-16 with every line break made CR LF; throws on invalid UTF-8.
std::u16string TextFromUtf8(const std::string& utf8);

// A minimal loader image for tests: an MZ header whose pointer to the PE
// header holds 256, bytes 128..255 zero, "PE\0\0" at 256, `size` bytes long
// (at least 260).
Bytes MinimalStub(size_t size = 1024);

// Checks that `stub` can take a package: MZ, PE header pointer 256, "PE\0\0"
// there, bytes 128..151 zero. Returns "" when it can, else the reason (one
// line; it says so when the stub already carries a package).
std::string StubProblem(const Bytes& stub);

// The name of element `element` of SupportedSystems as SystemElement takes
// it, or "" for an element without a name.
std::string SystemElementName(int element);

// Offset of element `name` ("95", "98", "me", "nt4", "2000", "xp", "vista",
// "7", "8", "8.1", "10", "later") in SupportedSystems, or -1.
int SystemElement(const std::string& name);

}  // namespace packagewriter
