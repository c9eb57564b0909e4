// Inside the simulated Windows: the state behind SimulatedWindows and the
// helpers that the files of this folder share. Not for tests; they use
// SimulatedWindows.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/simulated/SimulatedWindows.h"

namespace sim {

// A path made absolute and canonical: "C:\Temp\setup.exe", "C:\" for a
// drive's root, "\\server\share\x" for a network path.
struct CanonicalPath {
  std::string root;        // "C:\\" or "\\\\"
  std::vector<std::string> parts;  // the names after the root
  std::string display;     // as shown in Files() and records
  std::string key;         // `display` with a to z folded: the file system's key
  std::string parentKey;   // key of the folder that holds it; "" for a root
  bool isRoot = false;
  bool trailingSeparator = false;  // the text ended in a backslash
};

// Makes `path` canonical, relative paths taken from `currentDirectory`.
// Empty when the path cannot name anything (empty, invalid characters).
std::optional<CanonicalPath> Canonicalize(const std::string& path, const std::string& currentDirectory);

// `text` with the letters a to z made upper case; nothing else changes.
std::string FoldCase(const std::string& text);

// `text` in C form, "" for null.
inline std::string TextOrEmpty(const char* text) { return text != nullptr ? std::string(text) : std::string(); }

struct SimulatedWindows::State {
  SimulatedWindows* previous = nullptr;  // current before this one was made

  // ---- File system: files and folders by canonical key.
  struct Node {
    std::string path;  // canonical display path
    bool folder = false;
    std::string bytes;
    std::optional<uint64_t> reportedSize;  // SetReportedFileSize
  };
  std::map<std::string, Node> nodes;

  // ---- Handles: small fake pointers with a table behind them.
  enum class Kind { File, Search, RegistryKey, Process, Thread, Sid };
  struct HandleEntry {
    HandleEntry() = default;
    explicit HandleEntry(Kind of) : kind(of) {}
    Kind kind = Kind::File;
    std::string key;        // file: node key; registry key: folded key name; sid: its text
    uint64_t position = 0;  // file
    bool write = false;     // file: opened for writing
    size_t launch = 0;      // process and thread: index into `launches`
    uint64_t serial = 0;    // order of creation
  };
  std::map<uintptr_t, HandleEntry> handles;
  uintptr_t nextHandle = 0x1000;
  uint64_t nextSerial = 0;

  platform::Handle NewHandle(HandleEntry entry);
  HandleEntry* Find(platform::Handle handle, Kind kind);
  // Paths of the files that have a handle open, in the order of opening.
  std::vector<std::string> OpenFilePaths() const;
  bool IsOpen(const std::string& key, bool forWriting) const;

  // ---- Registry under HKEY_LOCAL_MACHINE, by folded key name.
  struct RegistryKey {
    std::map<std::string, std::string> values;  // folded value name -> bytes
  };
  std::map<std::string, RegistryKey> registry;
  bool KeyExists(const std::string& foldedKey) const;

  // ---- Processes
  std::set<std::string> runningImages;  // node keys of started programs that still run
  uint32_t nextProcessId = 1000;
  bool mprLoaded = false;
  std::string commandLineSeen;  // backs the pointer GetCommandLineA returns

  // ---- Heap: live blocks and their sizes.
  std::map<void*, size_t> blocks;
  // Blocks left over from an earlier process: no longer counted, freed
  // silently when something still gives them back, else at destruction.
  std::map<void*, size_t> orphanedBlocks;
  int64_t allocationCount = 0;

  // ---- The loader's process
  bool processEnded = false;

  // A new process starts: counters of the heap start over.
  void BeginProcess(SimulatedWindows& win);
  // The process ends: its handles close, as Windows closes them.
  void EndProcess(SimulatedWindows& win);
};

// The current simulated Windows, or null when there is none.
SimulatedWindows* CurrentOrNull();

// The current simulated Windows and its state.
inline SimulatedWindows& Win() { return SimulatedWindows::Current(); }
inline SimulatedWindows::State& WinState() { return SimulatedWindows::Current().state(); }

// Adds an event unless the process has already ended.
void Record(const std::string& event);

// Windows error codes the simulated calls return.
constexpr int32_t kErrorSuccess = 0;
constexpr int32_t kErrorFileNotFound = 2;
constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorInvalidParameter = 87;
constexpr int32_t kErrorInvalidLevel = 124;
constexpr int32_t kErrorMoreData = 234;
constexpr int32_t kErrorBadDevice = 1200;
constexpr int32_t kErrorNotConnected = 2250;
constexpr uint32_t kRegSz = 1;

}  // namespace sim
