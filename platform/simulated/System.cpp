// The simulated system: the loader's identity and command line, the version
// answers, the registry, the modules and the functions looked up in them
// (IsWow64Process, CheckTokenMembership, WNetGetUniversalNameA), and the
// security identifiers.
#include <string.h>

#include <cstdio>

#include "platform/simulated/State.h"

namespace sim {

namespace {

// Fake module handles: where such DLLs used to load on 32-bit Windows XP.
const uintptr_t kExeModule = 0x00400000;
const uintptr_t kKernel32 = 0x7C800000;
const uintptr_t kNtdll = 0x7C900000;
const uintptr_t kShell32 = 0x7C9C0000;
const uintptr_t kAdvapi32 = 0x77DD0000;
const uintptr_t kUser32 = 0x7E410000;
const uintptr_t kMpr = 0x71B20000;

// The pseudo handle GetCurrentProcess returns.
platform::Handle CurrentProcessHandle() { return reinterpret_cast<platform::Handle>(static_cast<intptr_t>(-1)); }

// A module name as Windows matches it: the name after the last backslash,
// case of a to z ignored, ".dll" optional.
std::string ModuleKey(const std::string& name) {
  const size_t backslash = name.find_last_of('\\');
  std::string key = FoldCase(backslash == std::string::npos ? name : name.substr(backslash + 1));
  if (key.size() > 4 && key.compare(key.size() - 4, 4, ".DLL") == 0) key.resize(key.size() - 4);
  return key;
}

int32_t SimulatedIsWow64Process(platform::Handle process, int32_t* wow64) {
  SimulatedWindows& win = Win();
  Record("IsWow64Process");
  if (win.isWow64ProcessFails || process != CurrentProcessHandle() || wow64 == nullptr) return 0;
  *wow64 = win.wow64 ? 1 : 0;
  return 1;
}

int32_t SimulatedCheckTokenMembership(platform::Handle token, platform::Sid sid, int32_t* isMember) {
  SimulatedWindows& win = Win();
  Record("CheckTokenMembership");
  if (win.checkTokenMembershipFails || isMember == nullptr) return 0;
  // The loader asks about its own token (null); any other would have to be
  // an impersonation token, which the simulation has none of.
  if (token != nullptr) return 0;
  SimulatedWindows::State::HandleEntry* entry = win.state().Find(sid, SimulatedWindows::State::Kind::Sid);
  if (entry == nullptr) return 0;
  *isMember = (win.administrator && entry->key == "S-1-5-32-544") ? 1 : 0;
  return 1;
}

uint32_t SimulatedWNetGetUniversalName(const char* localPath, uint32_t infoLevel, void* buffer, uint32_t* bufferSize) {
  SimulatedWindows& win = Win();
  const std::string path = TextOrEmpty(localPath);
  Record("WNetGetUniversalNameA " + path);
  if (infoLevel != 1) return kErrorInvalidLevel;  // UNIVERSAL_NAME_INFO_LEVEL only
  if (path.size() < 2 || path[1] != ':') return kErrorBadDevice;
  char drive = path[0];
  if (drive >= 'a' && drive <= 'z') drive = static_cast<char>(drive - 'a' + 'A');
  auto mapping = win.networkDrives.find(drive);
  if (mapping == win.networkDrives.end()) {
    mapping = win.networkDrives.find(static_cast<char>(drive - 'A' + 'a'));
    if (mapping == win.networkDrives.end()) return kErrorNotConnected;
  }
  const std::string universal = mapping->second + path.substr(2);
  // The record comes first, the text it points to right behind it.
  const uint32_t needed = static_cast<uint32_t>(sizeof(platform::UniversalNameInfo) + universal.size() + 1);
  if (bufferSize == nullptr || buffer == nullptr || *bufferSize < needed) {
    if (bufferSize != nullptr) *bufferSize = needed;
    return kErrorMoreData;
  }
  char* text = static_cast<char*>(buffer) + sizeof(platform::UniversalNameInfo);
  memcpy(text, universal.c_str(), universal.size() + 1);
  static_cast<platform::UniversalNameInfo*>(buffer)->UniversalName = text;
  return kErrorSuccess;
}

std::string SidText(const uint8_t authority[6], uint8_t count, const uint32_t subAuthorities[8]) {
  uint64_t value = 0;
  for (int i = 0; i < 6; ++i) value = (value << 8) | authority[i];
  std::string text = "S-1-" + std::to_string(value);
  for (uint8_t i = 0; i < count && i < 8; ++i) text += "-" + std::to_string(subAuthorities[i]);
  return text;
}

}  // namespace

}  // namespace sim

namespace platform {

using sim::Record;
using sim::SimulatedWindows;
using Kind = SimulatedWindows::State::Kind;

// ---- Identity ---------------------------------------------------------------------

uint32_t GetModuleFileNameA(char* buffer, uint32_t size) {
  const std::string& path = sim::Win().modulePath;
  if (size == 0) return 0;
  // Too small a buffer gets the path cut to fit, terminated, and the call
  // returns the buffer's size (as Windows Vista and later do).
  if (path.size() >= size) {
    memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = 0;
    return size;
  }
  memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<uint32_t>(path.size());
}

const char* GetCommandLineA() {
  SimulatedWindows& win = sim::Win();
  std::string& seen = win.state().commandLineSeen;
  seen = win.commandLine.empty() ? "\"" + win.modulePath + "\"" : win.commandLine;
  return seen.c_str();
}

// ---- Version ------------------------------------------------------------------------

bool GetVersionExA(OsVersionInfo& info) {
  SimulatedWindows& win = sim::Win();
  Record("GetVersionExA 148");
  if (win.versionQueryFails) return false;
  info = win.version;
  return true;
}

bool GetVersionExA(OsVersionInfoEx& info) {
  SimulatedWindows& win = sim::Win();
  Record("GetVersionExA 156");
  if (win.servicePackQueryFails) return false;
  info.MajorVersion = win.version.MajorVersion;
  info.MinorVersion = win.version.MinorVersion;
  info.BuildNumber = win.version.BuildNumber;
  info.PlatformId = win.version.PlatformId;
  info.ServicePackMajor = win.servicePackMajor;
  info.ServicePackMinor = 0;
  return true;
}

// ---- Registry -------------------------------------------------------------------------

int32_t RegOpenLocalMachineKeyA(const char* subKey, uint32_t access, Handle* key) {
  SimulatedWindows::State& state = sim::WinState();
  const std::string name = sim::TextOrEmpty(subKey);
  char accessText[16];
  snprintf(accessText, sizeof accessText, "0x%x", access);
  Record("RegOpenKeyExA " + name + " " + accessText);
  const std::string folded = sim::FoldCase(name);
  if (!state.KeyExists(folded)) return sim::kErrorFileNotFound;
  SimulatedWindows::State::HandleEntry entry(Kind::RegistryKey);
  entry.key = folded;
  *key = state.NewHandle(entry);
  return sim::kErrorSuccess;
}

int32_t RegQueryValueExA(Handle key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size) {
  SimulatedWindows::State& state = sim::WinState();
  const std::string valueName = sim::TextOrEmpty(name);
  Record("RegQueryValueExA " + valueName);
  SimulatedWindows::State::HandleEntry* entry = state.Find(key, Kind::RegistryKey);
  if (entry == nullptr) return sim::kErrorInvalidHandle;
  auto found = state.registry.find(entry->key);
  if (found == state.registry.end()) return sim::kErrorFileNotFound;
  auto value = found->second.values.find(sim::FoldCase(valueName));
  if (value == found->second.values.end()) return sim::kErrorFileNotFound;
  const std::string& bytes = value->second;
  if (type != nullptr) *type = sim::kRegSz;
  if (data == nullptr) {
    // Only the size is asked for.
    if (size != nullptr) *size = static_cast<uint32_t>(bytes.size());
    return sim::kErrorSuccess;
  }
  if (size == nullptr) return sim::kErrorInvalidParameter;
  if (*size < bytes.size()) {
    *size = static_cast<uint32_t>(bytes.size());
    return sim::kErrorMoreData;
  }
  memcpy(data, bytes.data(), bytes.size());
  *size = static_cast<uint32_t>(bytes.size());
  return sim::kErrorSuccess;
}

void RegCloseKey(Handle key) {
  SimulatedWindows::State& state = sim::WinState();
  Record("RegCloseKey");
  if (state.Find(key, Kind::RegistryKey) != nullptr) state.handles.erase(reinterpret_cast<uintptr_t>(key));
}

// ---- Modules and the functions looked up in them --------------------------------------

Module GetModuleHandleA(const char* name) {
  SimulatedWindows& win = sim::Win();
  if (name == nullptr) {
    Record("GetModuleHandleA");
    return reinterpret_cast<Module>(sim::kExeModule);
  }
  Record(std::string("GetModuleHandleA ") + name);
  const std::string key = sim::ModuleKey(name);
  uintptr_t module = 0;
  if (key == "KERNEL32") module = sim::kKernel32;
  if (key == "NTDLL") module = sim::kNtdll;
  if (key == "ADVAPI32") module = sim::kAdvapi32;
  if (key == "USER32") module = sim::kUser32;
  if (key == "SHELL32") module = sim::kShell32;
  if (key == "MPR" && win.state().mprLoaded) module = sim::kMpr;
  return reinterpret_cast<Module>(module);
}

void* GetProcAddress(Module module, const char* name) {
  SimulatedWindows& win = sim::Win();
  // A value below 64 KiB is an ordinal, not a name.
  if (reinterpret_cast<uintptr_t>(name) < 0x10000) {
    Record("GetProcAddress #" + std::to_string(reinterpret_cast<uintptr_t>(name)));
    return nullptr;
  }
  const std::string function = name;
  Record("GetProcAddress " + function);
  const uintptr_t where = reinterpret_cast<uintptr_t>(module);
  // Exported names match exactly, case included.
  if (where == sim::kKernel32 && function == "IsWow64Process" && win.hasIsWow64Process) {
    return reinterpret_cast<void*>(static_cast<IsWow64ProcessFunction>(&sim::SimulatedIsWow64Process));
  }
  if (where == sim::kAdvapi32 && function == "CheckTokenMembership" && win.hasCheckTokenMembership) {
    return reinterpret_cast<void*>(static_cast<CheckTokenMembershipFunction>(&sim::SimulatedCheckTokenMembership));
  }
  if (where == sim::kMpr && win.state().mprLoaded && function == "WNetGetUniversalNameA") {
    return reinterpret_cast<void*>(static_cast<WNetGetUniversalNameFunction>(&sim::SimulatedWNetGetUniversalName));
  }
  return nullptr;
}

Module LoadLibraryA(const char* path) {
  SimulatedWindows& win = sim::Win();
  const std::string text = sim::TextOrEmpty(path);
  Record("LoadLibraryA " + text);
  if (!win.hasMpr) return nullptr;
  // Only the system folder's mpr.dll, named by its full path, can be loaded.
  const std::optional<sim::CanonicalPath> asked = sim::Canonicalize(text, std::string());
  const std::optional<sim::CanonicalPath> mpr = sim::Canonicalize(win.systemDirectory + "\\mpr.dll", std::string());
  if (!asked || !mpr || asked->trailingSeparator || asked->key != mpr->key) return nullptr;
  win.state().mprLoaded = true;
  return reinterpret_cast<Module>(sim::kMpr);
}

uint32_t GetSystemDirectoryA(char* buffer, uint32_t size) {
  const std::string& path = sim::Win().systemDirectory;
  // Too small a buffer is left alone and the size needed comes back.
  if (size <= path.size()) return static_cast<uint32_t>(path.size() + 1);
  memcpy(buffer, path.c_str(), path.size() + 1);
  return static_cast<uint32_t>(path.size());
}

Handle GetCurrentProcess() { return sim::CurrentProcessHandle(); }

// ---- Security -----------------------------------------------------------------------------

bool AllocateAndInitializeSid(const uint8_t authority[6], uint8_t subAuthorityCount, const uint32_t subAuthorities[8],
                              Sid* sid) {
  SimulatedWindows& win = sim::Win();
  Record("AllocateAndInitializeSid");
  if (win.allocateSidFails || subAuthorityCount == 0 || subAuthorityCount > 8 || sid == nullptr) return false;
  const std::string text = sim::SidText(authority, subAuthorityCount, subAuthorities);
  win.sidsAllocated.push_back(text);
  ++win.sidsInUse;
  SimulatedWindows::State::HandleEntry entry(Kind::Sid);
  entry.key = text;
  *sid = win.state().NewHandle(entry);
  return true;
}

void FreeSid(Sid sid) {
  SimulatedWindows& win = sim::Win();
  Record("FreeSid");
  if (win.state().Find(sid, Kind::Sid) == nullptr) return;
  win.state().handles.erase(reinterpret_cast<uintptr_t>(sid));
  --win.sidsInUse;
}

}  // namespace platform
