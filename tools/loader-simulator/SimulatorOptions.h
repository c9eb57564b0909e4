// The simulator's command line: the package file and the Windows it is run on.
#pragma once

#include <stdint.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace simulator {

// The temporary folder that GetTempPathA reports unless --temp says otherwise.
constexpr const char* kDefaultTempPath = "C:\\Users\\User\\AppData\\Local\\Temp\\";
// The ReleaseId value unless --release-id, --release-id-hex or
// --no-release-id says otherwise.
constexpr const char* kDefaultReleaseId = "2009";

// Every 8-bit string below holds code page 1252 bytes, as the loader sees it.
struct SimulatorOptions {
  std::string packagePath;  // on the real disk, as given

  uint32_t majorVersion = 10;
  uint32_t minorVersion = 0;
  uint32_t platformId = 2;
  bool versionQueryFails = false;
  uint16_t servicePackMajor = 0;
  bool servicePackQueryFails = false;

  enum class ReleaseIdForm { Text, RawBytes, Missing };
  ReleaseIdForm releaseIdForm = ReleaseIdForm::Text;
  std::string releaseId = kDefaultReleaseId;  // the text (stored with a NUL) or the raw bytes

  std::optional<bool> wow64;  // unset: WOW64 when the major version is 6 or more
  bool hasIsWow64Process = true;
  bool administrator = false;
  bool hasCheckTokenMembership = true;

  std::string loaderPath;  // GetModuleFileNameA; defaults to C:\Downloads\ + the package's name
  std::string tempPath = kDefaultTempPath;
  std::map<char, std::string> networkDrives;  // upper-case letter -> \\server\share
  std::vector<std::string> existingPaths;     // a trailing backslash makes a folder

  bool openFails = false;
  bool createFails = false;
  bool writeShort = false;
  bool startFails = false;

  std::optional<std::string> arguments;  // what follows the quoted loader path and a space

  bool json = false;

  // Whether the simulated loader runs under WOW64.
  bool RunsUnderWow64() const { return wow64 ? *wow64 : majorVersion >= 6; }
};

struct ParsedOptions {
  bool ok = false;    // false: `error` holds a one-line reason
  bool help = false;  // --help was asked for; nothing else is looked at
  std::string error;
  SimulatorOptions options;
};

// Parses the arguments after the program name (UTF-8). Later options override
// earlier ones; --map and --exists add up.
ParsedOptions ParseSimulatorOptions(const std::vector<std::string>& arguments);

// The --help text.
std::string SimulatorHelpText();

}  // namespace simulator
