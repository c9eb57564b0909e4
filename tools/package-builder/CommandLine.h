// The package builder's command line: which command, and its options as
// given, checked for form but not yet read from disk.
#pragma once

#include <stdint.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/package-writer/PackageWriter.h"

namespace packagebuilder {

// A command line the builder cannot take; main prints it with the usage hint.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text option: given on the command line or named by a file.
struct TextSource {
  std::optional<std::string> text;  // UTF-8 as given
  std::optional<std::string> file;  // a UTF-8 file to read it from
};

struct BuildOptions {
  std::string stub;  // "" for loader.exe beside the builder
  std::optional<std::string> setup32, setup64;
  packagewriter::Declare64 without64 = packagewriter::Declare64::None;
  uint64_t supportedSystems = 0;  // filled with every named element by default
  uint16_t minReleaseId = 0, maxReleaseId = 0xFFFF;
  uint8_t elevationMode = 0;
  TextSource architectureText, systemText;
  std::optional<std::string> extraInside, extraOutside;
  bool detached = false;
  packagewriter::LzmaSettings lzma;
  std::string output;
};

struct InspectOptions {
  std::string file;
  bool json = false;
};

struct CommandLine {
  enum class Command { Help, Build, Inspect } command = Command::Help;
  BuildOptions build;
  InspectOptions inspect;
};

// Reads the arguments after the program name. Throws UsageError with a
// one-line reason for anything it cannot take.
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The text that --help prints.
const char* UsageText();

// Every named element of SupportedSystems: the default set.
uint64_t AllNamedSystems();

}  // namespace packagebuilder
