#include "tests/fuzz/RunJudge.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <vector>

#include "extract/NoRTLStream.h"
#include "package/StubTypes.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"

namespace fuzz {

namespace {

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr size_t kModulePathLimit = 260;  // GetModuleFileNameA into 261 bytes

std::string ModulePath(const RunProfile& p) {
  if (p.longLoaderPath) return "C:\\" + std::string(250, 'd') + "\\setup.exe";
  if (p.nameWithoutExtension) return "C:\\Downloads\\install";
  return "C:\\Downloads\\setup.exe";
}

// The name part of a path, as the loader splits it.
std::string NamePart(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

// Builds the machine the profile describes, the loader's file included.
void SetUpWindows(sim::SimulatedWindows& win, const RunProfile& p, const std::vector<uint8_t>& file) {
  win.modulePath = ModulePath(p);
  win.SetArguments(p.arguments);
  win.version = {p.major, p.minor, 0, p.platformId};
  win.versionQueryFails = p.versionQueryFails;
  win.servicePackQueryFails = p.servicePackQueryFails;
  win.servicePackMajor = p.servicePack;
  win.hasIsWow64Process = !p.noIsWow64Process;
  win.isWow64ProcessFails = p.isWow64ProcessFails;
  win.wow64 = p.wow64;
  win.hasCheckTokenMembership = !p.noCheckTokenMembership;
  win.checkTokenMembershipFails = p.checkTokenMembershipFails;
  win.administrator = p.administrator;
  win.allocateSidFails = p.allocateSidFails;
  win.hasMpr = !p.noMpr;
  if (p.networkDrive) win.networkDrives['C'] = "\\\\server\\share";
  win.codePage = p.codePage932 ? 932 : 1252;
  if (p.noTempPath) {
    win.tempPath = "";
  } else if (p.longTempPath) {
    // Longer than GetTempPathA's buffer of 256: the call leaves it empty.
    win.tempPath = "C:\\" + std::string(270, 't') + "\\";
    win.AddFolder(win.tempPath);
  }
  if (p.copyNameTaken && !win.tempPath.empty()) {
    const std::string name = NamePart(win.modulePath);
    win.AddFile(win.tempPath + name, "taken");
    const size_t at = name.size() < 4 ? 0 : name.size() - 4;
    win.AddFolder(win.tempPath + name.substr(0, at) + "2" + name.substr(at));
  }
  win.openFails = p.openFails;
  win.createFails = p.createFails;
  win.startFails = p.startFails;
  win.shellGivesNoProcess = p.shellGivesNoProcess;
  if (p.writeLimit != 0) win.writeLimit = (p.writeLimit - 1) * 64;
  if (p.freeDiskSpace != 0) win.freeDiskSpace = (p.freeDiskSpace - 1) * 1024;
  if (p.failAllocation != 0) win.failAllocationNumber = p.failAllocation;
  win.heapLimit = p.heapLimit == 0 ? size_t{64} << 20 : size_t{p.heapLimit} << 16;
  if (p.releaseId) {
    win.SetRegistryValue(kCurrentVersionKey, "ReleaseId", *p.releaseId);
  } else {
    win.RemoveRegistryValue(kCurrentVersionKey, "ReleaseId");
  }
  win.AddFile(win.modulePath, file);
}

// What the loader's file declares, as far as it holds it.
struct Declared {
  bool hasLocator = false, hasHeader = false;
  loader::PackageLocator locator = {};
  loader::PackageHeader header = {};
};

Declared ReadDeclared(const std::vector<uint8_t>& file) {
  Declared d;
  if (file.size() < kLocatorAt + kLocatorSize) return d;
  d.hasLocator = true;
  memcpy(d.locator.Bytes, file.data() + kLocatorAt, kLocatorSize);
  const uint64_t at = d.locator.HeaderOffset();
  if (at + sizeof d.header.Bytes <= file.size()) {
    d.hasHeader = true;
    memcpy(d.header.Bytes, file.data() + at, sizeof d.header.Bytes);
  }
  return d;
}

uint64_t RoundedBlock(uint64_t size) { return (size + 0x1FFFF) & ~uint64_t{0x1FFFF}; }

// The largest heap request the run may make: the checksum range, a stream's
// block, the decoder's window, a refusal text with the longest name put in
// for every placeholder, the paths and command lines; plus room for
// liblzma's tables.
uint64_t AllocationBound(const Declared& d, const RunProfile& p) {
  uint64_t bound = 16 * (p.arguments.size() + 1024);
  if (d.hasLocator && d.locator.ChecksumLength() < 0x80000000u) bound = std::max<uint64_t>(bound, d.locator.ChecksumLength());
  if (d.hasHeader) {
    for (const loader::PayloadDescriptor& payload : {d.header.Payload32(), d.header.Payload64()}) {
      for (uint32_t size : {payload.CompressedSize, payload.DecompressedSize}) {
        if (size <= static_cast<uint32_t>(loader::kStreamLimit)) bound = std::max(bound, RoundedBlock(size));
      }
    }
    const uint64_t dictionary = d.header.LzmaDictionarySize();
    if (dictionary < 0x80000000u) bound = std::max<uint64_t>(bound, std::max<uint64_t>(dictionary, 4096) + 4096);
    for (const loader::MessageRef& message : {d.header.ArchitectureMessage(), d.header.SystemMessage()}) {
      // A name of up to 80 characters for each six-unit placeholder.
      bound = std::max<uint64_t>(bound, 2 * (uint64_t{message.Length} + 1) * 15);
    }
  }
  return bound + (256u << 10);
}

const char* const kFatalTexts[] = {
    loader::FatalErrorText(loader::FatalError::PackageDamaged),
    loader::FatalErrorText(loader::FatalError::PackageTruncated),
    loader::FatalErrorText(loader::FatalError::TempCopyFailed),
    loader::FatalErrorText(loader::FatalError::LaunchFailed),
};
const Outcome kFatalOutcomes[] = {Outcome::PackageDamaged, Outcome::PackageTruncated, Outcome::TempCopyFailed,
                                  Outcome::LaunchFailed};

// The program a start names: the shell's file, or the first quoted part of
// the direct start's command line.
std::string StartedFile(const sim::LaunchRecord& launch) {
  if (launch.road == sim::LaunchRecord::Road::Shell) return launch.file;
  const std::string& line = launch.commandLine;
  const size_t end = line.find('"', 1);
  return line.size() > 1 && line[0] == '"' && end != std::string::npos ? line.substr(1, end - 1) : line;
}

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, strlen(prefix), prefix) == 0; }

// True when the allocation that `event` records cannot have been granted.
bool WasRefused(const sim::SimulatedWindows& win, const std::string& event, int64_t allocationCount) {
  if (win.failAllocationNumber >= 1 && win.failAllocationNumber == allocationCount) return true;
  unsigned long long old = 0, size = 0;
  if (sscanf(event.c_str(), "HeapReAlloc %llu %llu", &old, &size) == 2) {
    return size > win.heapLimit || win.heapInUse - old > win.heapLimit - size;
  }
  if (sscanf(event.c_str(), "HeapAlloc %llu", &size) == 1) {
    return size > win.heapLimit || win.heapInUse > win.heapLimit - size;
  }
  return false;
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Started: return "started";
    case Outcome::PackageDamaged: return "damaged";
    case Outcome::PackageTruncated: return "truncated";
    case Outcome::TempCopyFailed: return "tempcopyfailed";
    case Outcome::LaunchFailed: return "launchfailed";
    case Outcome::PackageMessage: return "message";
    case Outcome::OutOfMemory: return "outofmemory";
  }
  return "?";
}

Verdict RunAndJudge(const RunProfile& profile) {
  const std::vector<uint8_t> file = LoaderFile(profile);
  const Declared declared = ReadDeclared(file);
  sim::SimulatedWindows win;
  SetUpWindows(win, profile, file);
  const std::vector<std::string> before = win.Files();

  // The copy as the setup program finds it while the loader waits (a
  // detached one is looked at after the run; a shell start without a process
  // handle has no wait).
  bool startSeen = false;
  std::string startedFile;
  size_t startedSize = 0;
  win.whileSetupRuns = [&](const sim::LaunchRecord& launch) {
    startSeen = true;
    startedFile = StartedFile(launch);
    startedSize = win.FileBytes(startedFile).size();
  };

  const sim::ProcessResult result = sim::RunLoaderProcess();

  Verdict verdict;
  auto finding = [&verdict](const std::string& what) {
    if (verdict.finding.empty()) verdict.finding = what;
  };
  if (!result.exitProcessCalled || result.exitCode != 0) finding("the process did not end through ExitProcess(0)");

  const uint64_t bound = AllocationBound(declared, profile);
  for (const std::string& event : win.events) {
    unsigned long long old = 0, size = 0;
    if (sscanf(event.c_str(), "HeapAlloc %llu", &size) == 1 ||
        sscanf(event.c_str(), "HeapReAlloc %llu %llu", &old, &size) == 2) {
      if (size > bound) finding("a heap request beyond what the package's sizes allow: " + event);
    }
  }

  std::vector<std::string> added;
  for (const std::string& path : win.Files()) {
    if (std::find(before.begin(), before.end(), path) == before.end()) added.push_back(path);
  }
  const std::string caption = win.modulePath.substr(0, kModulePathLimit);

  if (win.messageBoxes.size() > 1) finding("more than one message box");
  if (win.launches.size() > 1) finding("more than one start");

  if (win.messageBoxes.size() == 1) {
    const sim::MessageBoxRecord& box = win.messageBoxes[0];
    if (!win.launches.empty()) finding("a message box after the setup program was started");
    if (box.caption != caption) finding("a message box captioned other than with the loader's path");
    if (box.style != 0x10) finding("a message box styled other than MB_ICONERROR");
    verdict.outcome = Outcome::PackageMessage;
    for (size_t i = 0; i < 4; ++i) {
      if (box.text == kFatalTexts[i]) verdict.outcome = kFatalOutcomes[i];
    }
    if (verdict.outcome == Outcome::LaunchFailed) {
      if (win.failedStarts.empty()) finding("LaunchFailed without a failed start");
      if (added.size() != 1) {
        finding("LaunchFailed without the copy left in place");
      } else if (declared.hasHeader) {
        const uint64_t size = win.FileBytes(added[0]).size();
        if (size != declared.header.Payload32().DecompressedSize && size != declared.header.Payload64().DecompressedSize) {
          finding("LaunchFailed leaves a copy of the wrong size: " + std::to_string(size));
        }
      }
    } else if (!added.empty()) {
      finding(std::string("a file left behind by the outcome ") + OutcomeName(verdict.outcome) + ": " + added[0]);
    }
    return verdict;
  }

  if (win.launches.size() == 1) {
    verdict.outcome = Outcome::Started;
    const sim::LaunchRecord& launch = win.launches[0];
    if (!launch.openFilesAtStart.empty()) finding("a file still open while the setup program runs: " + launch.openFilesAtStart[0]);
    // Only strings are left on the heap once the streams are released.
    if (launch.heapInUseAtStart > (64u << 10) + 16 * profile.arguments.size()) {
      finding("heap still held while the setup program runs: " + std::to_string(launch.heapInUseAtStart));
    }
    const bool detached = declared.hasLocator && declared.locator.DetachedFileSize() != 0;
    if (detached && added.size() != 1) finding("a detached start without the copy left in place");
    if (!detached && !added.empty()) finding("the copy stays after the setup program ended: " + added[0]);
    if (detached) {
      startSeen = true;
      startedFile = StartedFile(launch);
      startedSize = win.FileBytes(startedFile).size();
    }
    if (startSeen && declared.hasHeader && startedSize != declared.header.Payload32().DecompressedSize &&
        startedSize != declared.header.Payload64().DecompressedSize) {
      finding("the started copy " + startedFile + " has the wrong size: " + std::to_string(startedSize));
    }
    return verdict;
  }

  // Nothing shown and nothing started: only a refused allocation ends a run
  // so, right before the process ends.
  verdict.outcome = Outcome::OutOfMemory;
  const size_t count = win.events.size();
  const bool endsAfterAllocation =
      count >= 2 && StartsWith(win.events[count - 1], "ExitProcess") &&
      (StartsWith(win.events[count - 2], "HeapAlloc ") || StartsWith(win.events[count - 2], "HeapReAlloc ")) &&
      WasRefused(win, win.events[count - 2], win.CountEvents("HeapAlloc") + win.CountEvents("HeapReAlloc"));
  if (!endsAfterAllocation) {
    finding("a silent end that no refused allocation explains (last event: " +
            (count > 0 ? win.events[count - 1] : std::string("none")) + ")");
  }
  return verdict;
}

}  // namespace fuzz
