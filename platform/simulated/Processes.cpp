// The simulated processes: starting a setup program directly or through the
// shell, waiting for it, message boxes, and the end of the loader's process.
#include "platform/simulated/State.h"

namespace sim {

namespace {

// The program a command line names: its first token, in double quotes or
// up to the first blank.
std::string ProgramOf(const std::string& commandLine) {
  size_t start = commandLine.find_first_not_of(" \t");
  if (start == std::string::npos) return std::string();
  if (commandLine[start] == '"') {
    const size_t end = commandLine.find('"', start + 1);
    return commandLine.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
  }
  const size_t end = commandLine.find_first_of(" \t", start);
  return commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// True when `path` names an executable that can start now: a file that
// begins with "MZ" and that nobody holds open for writing. Sets `key`.
bool CanStart(SimulatedWindows& win, const std::string& path, std::string& key) {
  const std::optional<CanonicalPath> canonical = Canonicalize(path, win.currentDirectory);
  if (!canonical || canonical->trailingSeparator) return false;
  auto node = win.state().nodes.find(canonical->key);
  if (node == win.state().nodes.end() || node->second.folder) return false;
  if (node->second.bytes.compare(0, 2, "MZ") != 0) return false;
  if (win.state().IsOpen(canonical->key, true)) return false;
  key = canonical->key;
  return true;
}

// The current directory of a new process must at least be a usable path.
// (Windows also wants it to exist; the loader passes its own folder, which
// tests do not always build.)
bool IsUsableDirectory(SimulatedWindows& win, const std::string& path) {
  return Canonicalize(path, win.currentDirectory).has_value();
}

LaunchRecord NewLaunch(SimulatedWindows& win, LaunchRecord::Road road) {
  LaunchRecord launch;
  launch.road = road;
  launch.openFilesAtStart = win.state().OpenFilePaths();
  launch.heapInUseAtStart = win.heapInUse;
  return launch;
}

// Records a started program and returns its process handle. `running`: the
// program holds its file until it is waited for.
platform::Handle Start(SimulatedWindows& win, LaunchRecord launch, const std::string& programKey, bool running) {
  win.launches.push_back(launch);
  if (running) win.state().runningImages.insert(programKey);
  SimulatedWindows::State::HandleEntry entry(SimulatedWindows::State::Kind::Process);
  entry.key = programKey;
  entry.launch = win.launches.size() - 1;
  return win.state().NewHandle(entry);
}

}  // namespace

}  // namespace sim

namespace platform {

using sim::Record;
using sim::SimulatedWindows;
using Kind = SimulatedWindows::State::Kind;

bool CreateProcessA(char* commandLine, const char* currentDirectory, ProcessInformation& info) {
  SimulatedWindows& win = sim::Win();
  Record("CreateProcessA");
  sim::LaunchRecord launch = sim::NewLaunch(win, sim::LaunchRecord::Road::Direct);
  launch.commandLine = sim::TextOrEmpty(commandLine);
  launch.currentDirectory = sim::TextOrEmpty(currentDirectory);

  std::string programKey;
  const bool canStart = sim::CanStart(win, sim::ProgramOf(launch.commandLine), programKey);
  const bool directoryUsable = currentDirectory == nullptr || sim::IsUsableDirectory(win, launch.currentDirectory);
  if (win.startFails || !canStart || !directoryUsable) {
    win.failedStarts.push_back(launch);
    return false;
  }
  info.Process = sim::Start(win, launch, programKey, true);
  SimulatedWindows::State::HandleEntry thread(Kind::Thread);
  thread.launch = win.launches.size() - 1;
  info.Thread = win.state().NewHandle(thread);
  info.ProcessId = win.state().nextProcessId;
  info.ThreadId = win.state().nextProcessId + 4;
  win.state().nextProcessId += 8;
  return true;
}

bool ShellExecuteExA(ShellExecuteRecord& record) {
  SimulatedWindows& win = sim::Win();
  Record("ShellExecuteExA");
  sim::LaunchRecord launch = sim::NewLaunch(win, sim::LaunchRecord::Road::Shell);
  launch.verb = sim::TextOrEmpty(record.Verb);
  launch.file = sim::TextOrEmpty(record.File);
  launch.parameters = sim::TextOrEmpty(record.Parameters);

  // An executable knows the default verb, "open" and "runas" (the elevation
  // prompt is taken as accepted; startFails stands for a declined one).
  const bool knownVerb = launch.verb.empty() || launch.verb == "open" || launch.verb == "runas";
  std::string programKey;
  const bool canStart = sim::CanStart(win, launch.file, programKey);
  if (win.startFails || !knownVerb || !canStart) {
    win.failedStarts.push_back(launch);
    record.Process = nullptr;
    return false;
  }
  // Without a process handle nobody can wait for the program: it counts as
  // having ended at once.
  Handle process = sim::Start(win, launch, programKey, !win.shellGivesNoProcess);
  if (win.shellGivesNoProcess) {
    win.state().handles.erase(reinterpret_cast<uintptr_t>(process));
    process = nullptr;
  }
  record.Process = process;
  return true;
}

void WaitForSingleObject(Handle handle) {
  SimulatedWindows& win = sim::Win();
  Record("WaitForSingleObject");
  SimulatedWindows::State::HandleEntry* entry = win.state().Find(handle, Kind::Process);
  if (entry == nullptr) return;
  const size_t index = entry->launch;
  const std::string programKey = entry->key;
  if (win.launches[index].waitedFor) return;  // it has ended already
  win.launches[index].waitedFor = true;
  if (win.whileSetupRuns) win.whileSetupRuns(win.launches[index]);
  win.state().runningImages.erase(programKey);
}

int32_t MessageBoxA(const char* text, const char* caption, uint32_t style) {
  SimulatedWindows& win = sim::Win();
  Record("MessageBoxA");
  win.messageBoxes.push_back({sim::TextOrEmpty(text), sim::TextOrEmpty(caption), style});
  return 1;  // IDOK
}

void ExitProcess(uint32_t exitCode) {
  SimulatedWindows& win = sim::Win();
  Record("ExitProcess " + std::to_string(exitCode));
  win.state().EndProcess(win);
  throw sim::ProcessEnded{exitCode};
}

}  // namespace platform
