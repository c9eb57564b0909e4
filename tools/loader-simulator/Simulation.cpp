#include "tools/loader-simulator/Simulation.h"

#include <string.h>

#include <stdexcept>

#include "package/StubTypes.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"
#include "tools/loader-simulator/CodePage1252.h"

namespace simulator {
namespace {

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
// The event the simulated Windows records when the copy is created, before its path.
const std::string kCreateCopyEvent = "CreateFileA write ";

std::string FolderPart(const std::string& path) {
  const size_t backslash = path.rfind('\\');
  return backslash == std::string::npos ? std::string() : path.substr(0, backslash + 1);
}

// The program a launch record started: the shell's file, or the quoted
// first token of the direct command line.
std::string StartedFile(const sim::LaunchRecord& launch) {
  if (launch.road == sim::LaunchRecord::Road::Shell) return launch.file;
  const std::string& line = launch.commandLine;
  if (!line.empty() && line[0] == '"') {
    const size_t close = line.find('"', 1);
    return line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
  }
  return line.substr(0, line.find(' '));
}

bool ReadHeader(const std::vector<uint8_t>& package, loader::PackageHeader& header) {
  if (package.size() < loader::kLocatorOffset + sizeof(loader::PackageLocator)) return false;
  loader::PackageLocator locator;
  memcpy(locator.Bytes, package.data() + loader::kLocatorOffset, sizeof locator.Bytes);
  const uint64_t at = locator.HeaderOffset();
  if (at == 0 || at + sizeof header.Bytes > package.size()) return false;
  memcpy(header.Bytes, package.data() + at, sizeof header.Bytes);
  return true;
}

// Which build the copy is: by its size against the two descriptors, and when
// both have that size, by where the loader read its compressed bytes from.
int PayloadBits(const sim::SimulatedWindows& win, const std::vector<uint8_t>& package, uint64_t copySize) {
  loader::PackageHeader header;
  if (!ReadHeader(package, header)) return 0;
  const loader::PayloadDescriptor p32 = header.Payload32(), p64 = header.Payload64();
  const bool fits32 = p32.DecompressedSize == copySize, fits64 = p64.DecompressedSize == copySize;
  if (fits32 != fits64) return fits32 ? 32 : 64;
  if (!fits32) return 0;
  // The decoder's one read of the compressed bytes, the last read before the
  // copy is created, and the move of the file position before it.
  const ptrdiff_t created = win.FindEvent(kCreateCopyEvent);
  ptrdiff_t read = (created < 0 ? static_cast<ptrdiff_t>(win.events.size()) : created) - 1;
  while (read >= 0 && win.events[static_cast<size_t>(read)].compare(0, 9, "ReadFile ") != 0) --read;
  ptrdiff_t move = read - 1;
  while (move >= 0 && win.events[static_cast<size_t>(move)].compare(0, 15, "SetFilePointer ") != 0) --move;
  if (move >= 0) {
    for (const auto& candidate : {std::make_pair(32, p32), std::make_pair(64, p64)}) {
      const std::string distance = std::to_string(static_cast<int32_t>(candidate.second.FileOffset));
      if (win.events[static_cast<size_t>(move)] == "SetFilePointer " + distance &&
          win.events[static_cast<size_t>(read)] == "ReadFile " + std::to_string(candidate.second.CompressedSize))
        return candidate.first;
    }
  }
  return 32;  // two descriptors alike in every respect the loader uses
}

std::string FatalErrorName(const std::string& text) {
  static const std::pair<loader::FatalError, const char*> kErrors[] = {
      {loader::FatalError::PackageDamaged, "PackageDamaged"},
      {loader::FatalError::PackageTruncated, "PackageTruncated"},
      {loader::FatalError::TempCopyFailed, "TempCopyFailed"},
      {loader::FatalError::LaunchFailed, "LaunchFailed"},
  };
  for (const auto& error : kErrors)
    if (text == loader::FatalErrorText(error.first)) return error.second;
  return "";
}

void Configure(sim::SimulatedWindows& win, const SimulatorOptions& options, const std::vector<uint8_t>& package) {
  win.modulePath = options.loaderPath;
  // Started from Explorer, a program's current folder is its own folder.
  win.currentDirectory = FolderPart(options.loaderPath);
  win.commandLine = "\"" + options.loaderPath + "\"";
  if (options.arguments) win.commandLine += " " + *options.arguments;

  win.tempPath = options.tempPath;
  // Windows keeps its temporary folder in place. Text that names no folder
  // the simulated Windows can hold is still what the call reports.
  try {
    if (!options.tempPath.empty()) win.AddFolder(options.tempPath);
  } catch (const std::invalid_argument&) {
  }

  win.versionQueryFails = options.versionQueryFails;
  win.version.MajorVersion = options.majorVersion;
  win.version.MinorVersion = options.minorVersion;
  win.version.PlatformId = options.platformId;
  win.servicePackQueryFails = options.servicePackQueryFails;
  win.servicePackMajor = options.servicePackMajor;

  switch (options.releaseIdForm) {
    case SimulatorOptions::ReleaseIdForm::Text: win.SetReleaseId(options.releaseId); break;
    case SimulatorOptions::ReleaseIdForm::RawBytes:
      win.SetRegistryValue(kCurrentVersionKey, "ReleaseId", options.releaseId);
      break;
    case SimulatorOptions::ReleaseIdForm::Missing: win.RemoveRegistryValue(kCurrentVersionKey, "ReleaseId"); break;
  }

  win.hasIsWow64Process = options.hasIsWow64Process;
  win.wow64 = options.RunsUnderWow64();
  win.hasCheckTokenMembership = options.hasCheckTokenMembership;
  win.administrator = options.administrator;
  win.networkDrives = options.networkDrives;

  for (const std::string& path : options.existingPaths) {
    try {
      if (path.back() == '\\') {
        win.AddFolder(path);
      } else {
        win.AddFile(path, std::string());
      }
    } catch (const std::invalid_argument& error) {
      throw std::invalid_argument("--exists=" + CodePage1252ToUtf8(path) + ": " + error.what());
    }
  }

  win.openFails = options.openFails;
  win.createFails = options.createFails;
  if (options.writeShort) win.writeLimit = 0;
  win.startFails = options.startFails;

  // Last, so that no --exists replaces it.
  try {
    win.AddFile(options.loaderPath, package);
  } catch (const std::invalid_argument& error) {
    throw std::invalid_argument("the loader's path " + CodePage1252ToUtf8(options.loaderPath) + ": " + error.what());
  }
}

void AddNotes(const sim::SimulatedWindows& win, const SimulatorOptions& options, SimulationResult& result) {
  if (result.errorName == "TempCopyFailed" && !options.createFails && !options.writeShort) {
    const ptrdiff_t create = win.FindEvent(kCreateCopyEvent);
    if (create >= 0) {
      const std::string path = win.events[static_cast<size_t>(create)].substr(kCreateCopyEvent.size());
      const std::string folder = FolderPart(path);
      if (!folder.empty() && !win.IsFolder(folder))
        result.notes.push_back("the folder " + CodePage1252ToUtf8(folder) +
                               " does not exist in the simulated Windows; --exists=" + CodePage1252ToUtf8(folder) +
                               " makes it");
    }
  }
  if (result.errorName == "LaunchFailed" && !options.startFails && !win.failedStarts.empty()) {
    const std::string copy = win.FileBytes(StartedFile(win.failedStarts.front()));
    if (copy.compare(0, 2, "MZ") != 0)
      result.notes.push_back("the setup program does not begin with \"MZ\", so Windows does not start it");
  }
  if (result.outcome == SimulationResult::Outcome::Ended)
    result.notes.push_back("the loader ended without a message and without a start, as it does when the heap "
                           "refuses a block");
}

}  // namespace

SimulationResult Simulate(const SimulatorOptions& options, const std::vector<uint8_t>& package) {
  sim::SimulatedWindows win;
  Configure(win, options, package);

  // The copy is deleted once the setup program ends: keep its bytes while it runs.
  std::string copyBytes;
  bool copySeen = false;
  win.whileSetupRuns = [&](const sim::LaunchRecord& launch) {
    copyBytes = win.FileBytes(StartedFile(launch));
    copySeen = true;
  };

  sim::RunLoaderProcess();

  SimulationResult result;
  if (!win.messageBoxes.empty()) {
    const sim::MessageBoxRecord& box = win.messageBoxes.front();
    result.text = box.text;
    result.caption = box.caption;
    result.errorName = FatalErrorName(box.text);
    result.outcome = result.errorName.empty() ? SimulationResult::Outcome::Message : SimulationResult::Outcome::Fatal;
  } else if (!win.launches.empty()) {
    const sim::LaunchRecord& launch = win.launches.front();
    result.outcome = SimulationResult::Outcome::Launch;
    result.temporaryCopy = StartedFile(launch);
    result.shellRoad = launch.road == sim::LaunchRecord::Road::Shell;
    result.commandLine = launch.commandLine;
    result.currentDirectory = launch.currentDirectory;
    result.verb = launch.verb;
    result.parameters = launch.parameters;
    result.waits = launch.waitedFor;
    result.deletesCopy = win.FindEvent("DeleteFileA " + result.temporaryCopy) >= 0;
    if (!copySeen) copyBytes = win.FileBytes(result.temporaryCopy);
    result.payloadBits = PayloadBits(win, package, copyBytes.size());
  }
  AddNotes(win, options, result);
  return result;
}

std::string DescribeWindows(const SimulatorOptions& options) {
  std::string text = options.versionQueryFails
                         ? "version query fails"
                         : std::to_string(options.majorVersion) + "." + std::to_string(options.minorVersion) +
                               ", platform " + std::to_string(options.platformId);
  if (!options.hasIsWow64Process) {
    text += ", 32-bit (no IsWow64Process)";
  } else {
    text += options.RunsUnderWow64() ? ", 64-bit (WOW64)" : ", 32-bit";
  }
  if (!options.hasCheckTokenMembership) {
    text += ", no CheckTokenMembership";
  } else {
    text += options.administrator ? ", administrator" : ", not an administrator";
  }
  return text;
}

}  // namespace simulator
