// One fuzz input of the whole run: the Windows the loader meets (version,
// WOW64, membership, optional functions, faults), its command line, the
// registry's ReleaseId and its own file, a fixed 512-byte stub whose locator
// slot and appended package come from the input.
//
// Layout of the bytes, so that seeds can be written and findings read:
//
//   0   major version (0xFF stands for 0xFFFFFFFF)
//   1   minor version (0xFF stands for 0xFFFFFFFF)
//   2   platform id
//   3   service pack (major) of the second version query
//   4   flags, bit 0 up: version query fails, service-pack query fails,
//       no IsWow64Process, IsWow64Process fails, WOW64, no
//       CheckTokenMembership, CheckTokenMembership fails, administrator
//   5   flags: AllocateAndInitializeSid fails, no mpr.dll, loader on a
//       network drive, code page 932, GetTempPathA gives nothing, the copy's
//       name and its first number taken, checksum kept as is, open fails
//   6   flags: create fails, start fails, shell start gives no process,
//       loader named without extension, loader path over 260 characters,
//       temporary folder path over 256 characters
//   7   WriteFile limit: 0 none, else (n - 1) * 64 bytes
//   8   free disk space: 0 no limit, else (n - 1) * 1024 bytes
//   9   the Nth heap allocation fails: 0 none
//   10  heap limit: 0 is 64 MiB, else n * 64 KiB
//   11  ReleaseId length in bytes; 0xFF: no ReleaseId value
//   12  command line length, 16-bit little-endian (at most kMaxArguments)
//   14  the ReleaseId bytes, then the command line after the loader's
//       quoted path, then the 24 locator bytes (file offset 128), then the
//       package, appended to the stub at kStubSize. Fewer than 24 locator
//       bytes: the file is cut there.
//
// Unless the profile keeps it, the harness writes the right CRC-32 of the
// range the locator names into the locator, so that mutations reach the
// steps behind the checksum without a bypass in the loader's code.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <optional>
#include <string>
#include <vector>

namespace fuzz {

constexpr size_t kProfileSize = 14;
constexpr size_t kStubSize = 512;        // the package's first byte lies here
constexpr size_t kMaxArguments = 4096;   // longer command lines only cost time
constexpr size_t kLocatorAt = 128;
constexpr size_t kLocatorSize = 24;

struct RunProfile {
  uint32_t major = 10, minor = 0, platformId = 2;
  uint16_t servicePack = 4;
  bool versionQueryFails = false, servicePackQueryFails = false;
  bool noIsWow64Process = false, isWow64ProcessFails = false, wow64 = true;
  bool noCheckTokenMembership = false, checkTokenMembershipFails = false, administrator = true;
  bool allocateSidFails = false, noMpr = false, networkDrive = false, codePage932 = false;
  bool noTempPath = false, copyNameTaken = false, keepChecksum = false, openFails = false;
  bool createFails = false, startFails = false, shellGivesNoProcess = false;
  bool nameWithoutExtension = false, longLoaderPath = false, longTempPath = false;
  uint8_t writeLimit = 0, freeDiskSpace = 0, failAllocation = 0, heapLimit = 0;
  std::optional<std::string> releaseId = std::string("2009");
  std::string arguments;                 // after the loader's quoted path
  std::vector<uint8_t> locator;          // at most kLocatorSize bytes
  std::vector<uint8_t> package;          // from file offset kStubSize on
};

// Reads `data` by the layout above; false when it is too short for a profile.
bool ParseRunInput(const uint8_t* data, size_t size, RunProfile& profile);

// The bytes ParseRunInput reads back as `profile` (for the seed corpus).
std::vector<uint8_t> SerializeRunInput(const RunProfile& profile);

// The stub the package is appended to: MZ, PE header pointer 256, bytes
// 128..255 zero, kStubSize bytes.
const std::vector<uint8_t>& Stub();

// The loader's whole file: the stub with the locator at 128 and the package
// behind it; a locator shorter than 24 bytes cuts the file after it. Unless
// the profile keeps it, Checksum is set to the CRC-32 of the range the
// locator names, when the file holds that range whole.
std::vector<uint8_t> LoaderFile(const RunProfile& profile);

}  // namespace fuzz
