// The simulated Windows itself: which one is current, the records of what
// happened, the handle table, the life of the loader's process, and
// CloseHandle, which closes every kind of handle.
#include "platform/simulated/SimulatedWindows.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <stdexcept>

#include "launch/LaunchSetup.h"
#include "platform/simulated/State.h"

namespace sim {

namespace {

SimulatedWindows* gCurrent = nullptr;

const char kCurrentVersionKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion";

}  // namespace

SimulatedWindows::SimulatedWindows() : state_(new State) {
  state_->previous = gCurrent;
  gCurrent = this;
  for (const char* folder : {"C:\\", "C:\\Downloads", "C:\\Temp", "C:\\Work"}) AddFolder(folder);
  AddFolder(systemDirectory);
  // Windows 10 22H2, the default version, still reports ReleaseId 2009.
  SetReleaseId("2009");
}

SimulatedWindows::~SimulatedWindows() {
  for (auto& block : state_->blocks) free(block.first);
  for (auto& block : state_->orphanedBlocks) free(block.first);
  if (gCurrent == this) gCurrent = state_->previous;
  delete state_;
}

SimulatedWindows& SimulatedWindows::Current() {
  if (gCurrent == nullptr) {
    fprintf(stderr, "simulated Windows: a Windows call was made with no SimulatedWindows in place\n");
    abort();
  }
  return *gCurrent;
}

// Null when no simulated Windows exists (for calls that may come late, such
// as a heap block given back after the test's Windows is gone).
SimulatedWindows* CurrentOrNull() { return gCurrent; }

void SimulatedWindows::SetArguments(const std::string& arguments) {
  commandLine = "\"" + modulePath + "\"";
  if (!arguments.empty()) commandLine += " " + arguments;
}

// ---- Registry -----------------------------------------------------------------

void SimulatedWindows::SetRegistryValue(const std::string& key, const std::string& name, const std::string& bytes) {
  state_->registry[FoldCase(key)].values[FoldCase(name)] = bytes;
}

void SimulatedWindows::RemoveRegistryValue(const std::string& key, const std::string& name) {
  auto found = state_->registry.find(FoldCase(key));
  if (found != state_->registry.end()) found->second.values.erase(FoldCase(name));
}

void SimulatedWindows::RemoveRegistryKey(const std::string& key) {
  // The key goes with its subkeys, as RegDeleteTree does.
  const std::string folded = FoldCase(key);
  for (auto it = state_->registry.begin(); it != state_->registry.end();) {
    if (it->first == folded || it->first.compare(0, folded.size() + 1, folded + "\\") == 0) {
      it = state_->registry.erase(it);
    } else {
      ++it;
    }
  }
}

void SimulatedWindows::SetReleaseId(const std::string& text) {
  SetRegistryValue(kCurrentVersionKey, "ReleaseId", text + std::string(1, '\0'));
}

bool SimulatedWindows::State::KeyExists(const std::string& foldedKey) const {
  // A key exists when it was made, or when one of its subkeys was.
  auto it = registry.lower_bound(foldedKey);
  if (it == registry.end()) return false;
  if (it->first == foldedKey) return true;
  return it->first.compare(0, foldedKey.size() + 1, foldedKey + "\\") == 0;
}

// ---- Records --------------------------------------------------------------------

size_t SimulatedWindows::CountEvents(const std::string& prefix) const {
  return static_cast<size_t>(std::count_if(events.begin(), events.end(), [&](const std::string& event) {
    return event.compare(0, prefix.size(), prefix) == 0;
  }));
}

ptrdiff_t SimulatedWindows::FindEvent(const std::string& prefix) const {
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i].compare(0, prefix.size(), prefix) == 0) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

void Record(const std::string& event) {
  SimulatedWindows& win = Win();
  if (!win.state().processEnded) win.events.push_back(event);
}

// ---- Handles ----------------------------------------------------------------------

platform::Handle SimulatedWindows::State::NewHandle(HandleEntry entry) {
  entry.serial = nextSerial++;
  const uintptr_t value = nextHandle;
  nextHandle += 4;  // kernel handles are multiples of four
  handles[value] = entry;
  return reinterpret_cast<platform::Handle>(value);
}

SimulatedWindows::State::HandleEntry* SimulatedWindows::State::Find(platform::Handle handle, Kind kind) {
  auto found = handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == handles.end() || found->second.kind != kind) return nullptr;
  return &found->second;
}

std::vector<std::string> SimulatedWindows::State::OpenFilePaths() const {
  std::vector<const HandleEntry*> files;
  for (const auto& handle : handles) {
    if (handle.second.kind == Kind::File) files.push_back(&handle.second);
  }
  std::sort(files.begin(), files.end(),
            [](const HandleEntry* a, const HandleEntry* b) { return a->serial < b->serial; });
  std::vector<std::string> paths;
  for (const HandleEntry* file : files) {
    auto node = nodes.find(file->key);
    paths.push_back(node != nodes.end() ? node->second.path : file->key);
  }
  return paths;
}

bool SimulatedWindows::State::IsOpen(const std::string& key, bool forWriting) const {
  for (const auto& handle : handles) {
    if (handle.second.kind == Kind::File && handle.second.key == key && (!forWriting || handle.second.write)) {
      return true;
    }
  }
  return false;
}

// ---- The loader's process -------------------------------------------------------

void SimulatedWindows::State::BeginProcess(SimulatedWindows& win) {
  // What an earlier process left on the heap went with it; blocks the test
  // still holds stay valid but no longer count.
  orphanedBlocks.insert(blocks.begin(), blocks.end());
  blocks.clear();
  allocationCount = 0;
  win.heapInUse = 0;
  win.heapPeak = 0;
  processEnded = false;
}

void SimulatedWindows::State::EndProcess(SimulatedWindows& win) {
  if (processEnded) return;
  win.filesOpenAtExit = OpenFilePaths();
  // Windows closes every handle of an ended process; the programs it
  // started keep running, and the memory counts stay as they were at the end.
  handles.clear();
  mprLoaded = false;
  processEnded = true;
}

ProcessResult RunProcess(const std::function<void()>& body) {
  SimulatedWindows& win = Win();
  win.state().BeginProcess(win);
  loader::ForgetCheckTokenMembership();
  ProcessResult result = {false, 0};
  try {
    body();
  } catch (const ProcessEnded& ended) {
    result = {true, ended.exitCode};
  } catch (...) {
    win.state().EndProcess(win);
    throw;
  }
  win.state().EndProcess(win);
  return result;
}

}  // namespace sim

namespace platform {

using sim::Record;
using sim::SimulatedWindows;

void CloseHandle(Handle handle) {
  SimulatedWindows& win = sim::Win();
  SimulatedWindows::State& state = win.state();
  auto found = state.handles.find(reinterpret_cast<uintptr_t>(handle));
  if (found == state.handles.end()) {
    Record("CloseHandle invalid");
    return;
  }
  SimulatedWindows::State::HandleEntry& entry = found->second;
  switch (entry.kind) {
    case SimulatedWindows::State::Kind::File: {
      auto node = state.nodes.find(entry.key);
      Record("CloseHandle " + (node != state.nodes.end() ? node->second.path : entry.key));
      break;
    }
    case SimulatedWindows::State::Kind::Process:
      Record("CloseHandle process");
      win.launches[entry.launch].processHandleClosed = true;
      break;
    case SimulatedWindows::State::Kind::Thread:
      Record("CloseHandle thread");
      break;
    default:
      // Searches, keys and identifiers have their own closing calls.
      Record("CloseHandle invalid");
      return;
  }
  state.handles.erase(found);
}

}  // namespace platform
