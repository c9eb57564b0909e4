// The simulated file system: drive letters, folders and files in memory,
// paths without regard to the case of a to z, and the file calls over it.
// Sharing follows the loader's own opens, which all allow others to read
// only: a file open for writing cannot be opened again, a file open at all
// cannot be opened for writing or deleted, and a started program's file
// cannot be written or deleted while it runs.
#include <string.h>

#include <algorithm>
#include <stdexcept>

#include "platform/simulated/State.h"

namespace sim {

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Characters Windows refuses in a file or folder name.
bool IsValidName(const std::string& name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || strchr("<>:\"|?*", c) != nullptr) return false;
  }
  return true;
}

std::string Join(const std::string& root, const std::vector<std::string>& parts, size_t count) {
  std::string path = root;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) path += '\\';
    path += parts[i];
  }
  return path;
}

// Applies the backslash-separated `text` to `parts`: empty names and "."
// are skipped, ".." goes up (never above the root). False on an invalid name.
bool Walk(const std::string& text, std::vector<std::string>& parts) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\\', start);
    if (end == std::string::npos) end = text.size();
    const std::string name = text.substr(start, end - start);
    if (name == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!name.empty() && name != ".") {
      if (!IsValidName(name)) return false;
      parts.push_back(name);
    }
    start = end + 1;
  }
  return true;
}

CanonicalPath Make(const std::string& root, const std::vector<std::string>& parts, bool trailing) {
  CanonicalPath path;
  path.root = root;
  path.parts = parts;
  path.display = Join(root, parts, parts.size());
  path.key = FoldCase(path.display);
  path.isRoot = parts.empty();
  path.parentKey = path.isRoot ? std::string() : FoldCase(Join(root, parts, parts.size() - 1));
  path.trailingSeparator = trailing && !path.isRoot;
  return path;
}

// Splits an absolute path ("X:\..." or "\\...") into its root and names.
bool SplitAbsolute(const std::string& path, std::string& root, std::vector<std::string>& parts) {
  if (path.size() >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\') {
    root = std::string(1, UpperAscii(path[0])) + ":\\";
    return Walk(path.substr(3), parts);
  }
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    root = "\\\\";
    return Walk(path.substr(2), parts);
  }
  return false;
}

// The node of an existing file (not a folder) at `path`, or null.
SimulatedWindows::State::Node* FindFile(SimulatedWindows& win, const std::string& path, std::string* key) {
  const std::optional<CanonicalPath> canonical = Canonicalize(path, win.currentDirectory);
  if (!canonical || canonical->trailingSeparator) return nullptr;
  auto found = win.state().nodes.find(canonical->key);
  if (found == win.state().nodes.end() || found->second.folder) return nullptr;
  if (key != nullptr) *key = canonical->key;
  return &found->second;
}

CanonicalPath CanonicalOrThrow(const SimulatedWindows& win, const std::string& path) {
  const std::optional<CanonicalPath> canonical = Canonicalize(path, win.currentDirectory);
  if (!canonical) throw std::invalid_argument("simulated Windows: not a usable path: " + path);
  return *canonical;
}

}  // namespace

std::string FoldCase(const std::string& text) {
  std::string folded = text;
  for (char& c : folded) c = UpperAscii(c);
  return folded;
}

std::optional<CanonicalPath> Canonicalize(const std::string& input, const std::string& currentDirectory) {
  std::string path = input;
  std::replace(path.begin(), path.end(), '/', '\\');
  if (path.empty()) return std::nullopt;
  const bool trailing = path.back() == '\\';

  std::string root;
  std::vector<std::string> parts;
  if (SplitAbsolute(path, root, parts)) return Make(root, parts, trailing);
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return std::nullopt;

  // Relative forms start from the current directory, which must be absolute.
  std::string baseRoot;
  std::vector<std::string> baseParts;
  if (currentDirectory.empty()) return std::nullopt;
  std::string base = currentDirectory;
  std::replace(base.begin(), base.end(), '/', '\\');
  if (!SplitAbsolute(base, baseRoot, baseParts)) return std::nullopt;

  std::string rest = path;
  if (path.size() >= 2 && IsAsciiLetter(path[0]) && path[1] == ':') {
    // "X:name": relative to the current directory when it lies on X:, else
    // to X:'s root.
    root = std::string(1, UpperAscii(path[0])) + ":\\";
    rest = path.substr(2);
    if (root == baseRoot) parts = baseParts;
  } else if (path[0] == '\\') {
    root = baseRoot;  // "\name": from the current drive's root
  } else {
    root = baseRoot;
    parts = baseParts;
  }
  if (!Walk(rest, parts)) return std::nullopt;
  return Make(root, parts, trailing);
}

// ---- Configuration and inspection ----------------------------------------------

void SimulatedWindows::AddFolder(const std::string& path) {
  const CanonicalPath canonical = CanonicalOrThrow(*this, path);
  for (size_t count = 0; count <= canonical.parts.size(); ++count) {
    const std::string display = Join(canonical.root, canonical.parts, count);
    State::Node& node = state_->nodes[FoldCase(display)];
    if (!node.folder && !node.path.empty()) {
      throw std::invalid_argument("simulated Windows: a file is in the way of folder " + path);
    }
    node.path = display;
    node.folder = true;
  }
}

void SimulatedWindows::AddFile(const std::string& path, const std::string& bytes) {
  const CanonicalPath canonical = CanonicalOrThrow(*this, path);
  if (canonical.isRoot || canonical.trailingSeparator) {
    throw std::invalid_argument("simulated Windows: not a file path: " + path);
  }
  AddFolder(Join(canonical.root, canonical.parts, canonical.parts.size() - 1));
  State::Node& node = state_->nodes[canonical.key];
  if (node.folder) throw std::invalid_argument("simulated Windows: a folder is in the way of file " + path);
  node.path = canonical.display;
  node.bytes = bytes;
  node.reportedSize.reset();
}

void SimulatedWindows::AddFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  AddFile(path, std::string(bytes.begin(), bytes.end()));
}

bool SimulatedWindows::Exists(const std::string& path) const {
  const std::optional<CanonicalPath> canonical = Canonicalize(path, currentDirectory);
  return canonical && state_->nodes.count(canonical->key) != 0;
}

bool SimulatedWindows::IsFolder(const std::string& path) const {
  const std::optional<CanonicalPath> canonical = Canonicalize(path, currentDirectory);
  if (!canonical) return false;
  auto found = state_->nodes.find(canonical->key);
  return found != state_->nodes.end() && found->second.folder;
}

std::string SimulatedWindows::FileBytes(const std::string& path) const {
  const std::optional<CanonicalPath> canonical = Canonicalize(path, currentDirectory);
  if (!canonical) return std::string();
  auto found = state_->nodes.find(canonical->key);
  return found != state_->nodes.end() && !found->second.folder ? found->second.bytes : std::string();
}

std::vector<std::string> SimulatedWindows::Files() const {
  std::vector<std::string> files;
  for (const auto& node : state_->nodes) {
    if (!node.second.folder) files.push_back(node.second.path);
  }
  return files;
}

void SimulatedWindows::SetReportedFileSize(const std::string& path, uint64_t size) {
  State::Node* node = FindFile(*this, path, nullptr);
  if (node == nullptr) throw std::invalid_argument("simulated Windows: no such file: " + path);
  node->reportedSize = size;
}

}  // namespace sim

namespace platform {

using sim::Record;
using sim::SimulatedWindows;
using Kind = SimulatedWindows::State::Kind;

Handle OpenFileForReading(const char* path) {
  SimulatedWindows& win = sim::Win();
  const std::string text = sim::TextOrEmpty(path);
  Record("CreateFileA read " + text);
  std::string key;
  if (win.openFails || sim::FindFile(win, text, &key) == nullptr) return InvalidHandle();
  // Our share mode lets others read only, so a writer elsewhere refuses us.
  if (win.state().IsOpen(key, true)) return InvalidHandle();
  SimulatedWindows::State::HandleEntry entry(Kind::File);
  entry.key = key;
  return win.state().NewHandle(entry);
}

Handle CreateFileForWriting(const char* path) {
  SimulatedWindows& win = sim::Win();
  SimulatedWindows::State& state = win.state();
  const std::string text = sim::TextOrEmpty(path);
  Record("CreateFileA write " + text);
  if (win.createFails) return InvalidHandle();
  const std::optional<sim::CanonicalPath> canonical = sim::Canonicalize(text, win.currentDirectory);
  if (!canonical || canonical->isRoot || canonical->trailingSeparator) return InvalidHandle();
  // The folder must exist: creating a file never creates its folder.
  auto parent = state.nodes.find(canonical->parentKey);
  if (parent == state.nodes.end() || !parent->second.folder) return InvalidHandle();
  auto existing = state.nodes.find(canonical->key);
  if (existing != state.nodes.end()) {
    if (existing->second.folder) return InvalidHandle();
    if (state.IsOpen(canonical->key, false) || state.runningImages.count(canonical->key) != 0) return InvalidHandle();
  }
  // CREATE_ALWAYS: a file that is there is emptied.
  SimulatedWindows::State::Node& node = state.nodes[canonical->key];
  node.path = canonical->display;
  node.folder = false;
  node.bytes.clear();
  node.reportedSize.reset();
  SimulatedWindows::State::HandleEntry entry(Kind::File);
  entry.key = canonical->key;
  entry.write = true;
  return state.NewHandle(entry);
}

void SetFilePointer(Handle file, int32_t distance) {
  Record("SetFilePointer " + std::to_string(distance));
  SimulatedWindows::State::HandleEntry* entry = sim::WinState().Find(file, Kind::File);
  // FILE_BEGIN with a negative distance fails and leaves the position.
  if (entry != nullptr && distance >= 0) entry->position = static_cast<uint64_t>(distance);
}

uint32_t ReadFile(Handle file, void* buffer, uint32_t count) {
  SimulatedWindows& win = sim::Win();
  Record("ReadFile " + std::to_string(count));
  SimulatedWindows::State::HandleEntry* entry = win.state().Find(file, Kind::File);
  if (entry == nullptr || entry->write) return 0;
  const std::string& bytes = win.state().nodes[entry->key].bytes;
  uint64_t n = entry->position < bytes.size() ? bytes.size() - entry->position : 0;
  n = std::min<uint64_t>(n, count);
  if (win.readLimit >= 0) n = std::min<uint64_t>(n, static_cast<uint64_t>(win.readLimit));
  if (n > 0) memcpy(buffer, bytes.data() + entry->position, static_cast<size_t>(n));
  entry->position += n;
  return static_cast<uint32_t>(n);
}

uint32_t WriteFile(Handle file, const void* buffer, uint32_t count) {
  SimulatedWindows& win = sim::Win();
  Record("WriteFile " + std::to_string(count));
  SimulatedWindows::State::HandleEntry* entry = win.state().Find(file, Kind::File);
  if (entry == nullptr || !entry->write) return 0;
  SimulatedWindows::State::Node& node = win.state().nodes[entry->key];
  const uint64_t size = node.bytes.size();
  uint64_t n = count;
  if (win.writeLimit >= 0) n = std::min<uint64_t>(n, static_cast<uint64_t>(win.writeLimit));
  if (win.freeDiskSpace >= 0) {
    // Only growth takes disk space; overwriting does not.
    const uint64_t allowedEnd = size + static_cast<uint64_t>(win.freeDiskSpace);
    n = std::min<uint64_t>(n, allowedEnd > entry->position ? allowedEnd - entry->position : 0);
  }
  if (n == 0) return 0;
  const uint64_t end = entry->position + n;
  if (end > size) {
    node.bytes.resize(static_cast<size_t>(end), '\0');
    if (win.freeDiskSpace >= 0) win.freeDiskSpace -= static_cast<int64_t>(end - size);
  }
  memcpy(&node.bytes[static_cast<size_t>(entry->position)], buffer, static_cast<size_t>(n));
  node.reportedSize.reset();
  entry->position = end;
  return static_cast<uint32_t>(n);
}

uint32_t GetFileSize(Handle file, uint32_t* high) {
  SimulatedWindows& win = sim::Win();
  Record("GetFileSize");
  SimulatedWindows::State::HandleEntry* entry = win.state().Find(file, Kind::File);
  if (entry == nullptr) return 0xFFFFFFFFu;  // INVALID_FILE_SIZE
  const SimulatedWindows::State::Node& node = win.state().nodes[entry->key];
  const uint64_t size = node.reportedSize ? *node.reportedSize : node.bytes.size();
  if (high != nullptr) *high = static_cast<uint32_t>(size >> 32);
  return static_cast<uint32_t>(size);
}

void DeleteFileA(const char* path) {
  SimulatedWindows& win = sim::Win();
  const std::string text = sim::TextOrEmpty(path);
  Record("DeleteFileA " + text);
  std::string key;
  if (sim::FindFile(win, text, &key) == nullptr) return;
  // Open files (none of our opens shares delete) and running programs stay.
  if (win.state().IsOpen(key, false) || win.state().runningImages.count(key) != 0) return;
  win.state().nodes.erase(key);
}

Handle FindFirstFileA(const char* path) {
  SimulatedWindows& win = sim::Win();
  const std::string text = sim::TextOrEmpty(path);
  Record("FindFirstFileA " + text);
  const std::optional<sim::CanonicalPath> canonical = sim::Canonicalize(text, win.currentDirectory);
  // As on Windows, a path that ends in a backslash (a root, too) finds nothing.
  if (!canonical || canonical->isRoot || canonical->trailingSeparator) return InvalidHandle();
  if (win.state().nodes.count(canonical->key) == 0) return InvalidHandle();
  SimulatedWindows::State::HandleEntry entry(Kind::Search);
  entry.key = canonical->key;
  return win.state().NewHandle(entry);
}

void FindClose(Handle search) {
  Record("FindClose");
  SimulatedWindows::State& state = sim::WinState();
  if (state.Find(search, Kind::Search) != nullptr) state.handles.erase(reinterpret_cast<uintptr_t>(search));
}

uint32_t GetTempPathA(uint32_t size, char* buffer) {
  SimulatedWindows& win = sim::Win();
  Record("GetTempPathA");
  const std::string& path = win.tempPath;
  if (path.empty()) return 0;
  // Too small a buffer is left alone and the size needed comes back.
  if (size <= path.size()) return static_cast<uint32_t>(path.size() + 1);
  memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<uint32_t>(path.size());
}

}  // namespace platform
