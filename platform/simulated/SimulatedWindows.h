// A small Windows of the project's own, in memory, behind the declarations of
// platform/Platform.h: a file system with drive letters and folders, a
// registry, the version answers, WOW64 and Administrators membership, which
// optional functions exist, the temporary folder, network-drive mappings,
// launched processes, message boxes and ExitProcess. Tests and the simulator
// configure it, script faults through it and read what the loader did.
//
// One SimulatedWindows is current at a time: the one constructed last and not
// yet destroyed. Paths compare without regard to the case of a to z; a
// relative path is taken from `currentDirectory`.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace sim {

struct MessageBoxRecord {
  std::string text;
  std::string caption;
  uint32_t style;
};

// A setup program the loader started.
struct LaunchRecord {
  enum class Road { Direct, Shell };
  Road road;
  std::string commandLine;       // direct: the command line passed
  std::string currentDirectory;  // direct: the current directory passed
  std::string verb;              // shell: lpVerb
  std::string file;              // shell: lpFile
  std::string parameters;        // shell: lpParameters
  bool waitedFor = false;        // WaitForSingleObject was called on it
  bool processHandleClosed = false;
  // Files the loader had open at the moment of the start, by path.
  std::vector<std::string> openFilesAtStart;
  // Heap bytes the loader held at the moment of the start.
  size_t heapInUseAtStart = 0;
};

class SimulatedWindows {
 public:
  SimulatedWindows();
  ~SimulatedWindows();
  SimulatedWindows(const SimulatedWindows&) = delete;
  SimulatedWindows& operator=(const SimulatedWindows&) = delete;

  // The current simulated Windows; aborts when there is none.
  static SimulatedWindows& Current();

  // ---- The machine ---------------------------------------------------------
  std::string modulePath = "C:\\Downloads\\setup.exe";  // GetModuleFileNameA
  // The whole process command line. Empty means: the quoted module path.
  std::string commandLine;
  // Sets the command line to the quoted module path, a space and `arguments`
  // (or the quoted module path alone when `arguments` is empty).
  void SetArguments(const std::string& arguments);

  std::string tempPath = "C:\\Temp\\";  // what GetTempPathA leaves; "" = nothing
  std::string systemDirectory = "C:\\Windows\\system32";
  std::string currentDirectory = "C:\\Work\\";
  uint32_t codePage = 1252;  // GetACP; 1252 and 932 (lead bytes) are known

  bool versionQueryFails = false;       // GetVersionExA on OSVERSIONINFOA
  platform::OsVersionInfo version = {10, 0, 19045, 2};
  bool servicePackQueryFails = false;   // GetVersionExA on OSVERSIONINFOEXA
  uint16_t servicePackMajor = 0;

  bool hasIsWow64Process = true;
  bool isWow64ProcessFails = false;
  bool wow64 = false;

  bool hasCheckTokenMembership = true;
  bool checkTokenMembershipFails = false;
  bool allocateSidFails = false;
  bool administrator = false;

  bool hasMpr = true;                           // mpr.dll in the system folder
  std::map<char, std::string> networkDrives;    // 'Z' -> "\\\\server\\share"

  // Registry under HKEY_LOCAL_MACHINE: value bytes as stored (a REG_SZ text
  // includes its NUL when the writer stored one). It starts with ReleaseId
  // "2009", what the default version, Windows 10 22H2, reports. A key exists
  // when it or one of its subkeys holds a value.
  void SetRegistryValue(const std::string& key, const std::string& name, const std::string& bytes);
  void RemoveRegistryValue(const std::string& key, const std::string& name);
  void RemoveRegistryKey(const std::string& key);
  // Sets ReleaseId under Software\Microsoft\Windows NT\CurrentVersion to
  // `text` followed by a NUL, as Windows stores a REG_SZ.
  void SetReleaseId(const std::string& text);

  // ---- File system -----------------------------------------------------------
  // Folders C:\, C:\Downloads, C:\Temp, C:\Work and the system folder exist
  // from the start. AddFile creates missing parent folders; the loader's
  // calls never do. Sharing is the loader's own (others may read only): a file
  // open for writing cannot be opened again, a file open at all cannot be
  // created over or deleted, and a started program's file cannot be written
  // or deleted until it has been waited for. When the loader's process ends,
  // its handles close.
  void AddFile(const std::string& path, const std::string& bytes);
  void AddFile(const std::string& path, const std::vector<uint8_t>& bytes);
  void AddFolder(const std::string& path);
  bool Exists(const std::string& path) const;
  bool IsFolder(const std::string& path) const;
  std::string FileBytes(const std::string& path) const;  // "" when absent
  std::vector<std::string> Files() const;                 // every file's path
  // Sets a file's reported size without storing its bytes (for sizes of 4 GiB
  // and more): reads beyond the stored bytes return nothing.
  void SetReportedFileSize(const std::string& path, uint64_t size);

  // ---- Faults ----------------------------------------------------------------
  bool openFails = false;       // opening for reading fails (held for writing elsewhere)
  bool createFails = false;     // creating for writing fails
  int64_t writeLimit = -1;      // WriteFile writes at most this many bytes; -1 = no limit
  int64_t readLimit = -1;       // ReadFile reads at most this many bytes; -1 = no limit
  int64_t freeDiskSpace = -1;   // bytes left on every drive; -1 = no limit
  bool startFails = false;      // CreateProcessA and ShellExecuteExA fail
  bool shellGivesNoProcess = false;  // ShellExecuteExA succeeds with hProcess null
  // Allocations that would take the bytes in use above this fail (a 32-bit
  // process has about 2 GiB of address space).
  size_t heapLimit = 0x70000000;
  int64_t failAllocationNumber = -1;  // the Nth HeapAlloc/HeapReAlloc fails (from 1)

  // ---- What happened -----------------------------------------------------------
  std::vector<MessageBoxRecord> messageBoxes;
  std::vector<LaunchRecord> launches;
  // Starts that failed (startFails, a missing or non-MZ program, a program
  // still open for writing, an unknown shell verb), as far as recorded.
  std::vector<LaunchRecord> failedStarts;
  // Files the loader still had open when its process ended, by path.
  std::vector<std::string> filesOpenAtExit;
  // Identifiers made by AllocateAndInitializeSid, as text ("S-1-5-32-544"),
  // and how many of them have not been freed.
  std::vector<std::string> sidsAllocated;
  size_t sidsInUse = 0;
  // Every call of note, in order: "<Function> <detail>", for example
  // "CreateFileA read C:\Downloads\setup.exe", "CreateFileA write <path>",
  // "CloseHandle <path>", "DeleteFileA <path>", "HeapAlloc <size>",
  // "HeapReAlloc <old> <new>", "HeapFree <size>", "GetVersionExA 148",
  // "GetVersionExA 156", "RegOpenKeyExA <key> 0x20019", "RegQueryValueExA <name>",
  // "RegCloseKey", "GetModuleHandleA <name>", "GetProcAddress <name>",
  // "LoadLibraryA <path>", "WNetGetUniversalNameA <path>", "FindFirstFileA <path>",
  // "FindClose", "GetTempPathA", "IsWow64Process", "AllocateAndInitializeSid",
  // "CheckTokenMembership", "FreeSid", "CreateProcessA", "ShellExecuteExA",
  // "WaitForSingleObject", "CloseHandle process", "MessageBoxA", "ExitProcess 0",
  // "SetFilePointer <distance>", "ReadFile <count>", "WriteFile <count>", "GetFileSize".
  // Misuse shows as "CloseHandle invalid", "HeapFree invalid" and
  // "HeapReAlloc invalid <new>"; nothing is recorded after ExitProcess.
  std::vector<std::string> events;
  // How many events begin with `prefix`.
  size_t CountEvents(const std::string& prefix) const;
  // Index of the first event that begins with `prefix`, or -1.
  ptrdiff_t FindEvent(const std::string& prefix) const;

  // Heap bytes the loader's process holds, and the most it held at once.
  // Both start over with each RunProcess and keep, after the process ends,
  // what it held at its end.
  size_t heapInUse = 0;
  size_t heapPeak = 0;
  // Called while a started setup program runs (inside WaitForSingleObject).
  std::function<void(const LaunchRecord&)> whileSetupRuns;

  // Internal state of the implementation (handles, files, registry).
  struct State;
  State& state() { return *state_; }

 private:
  State* state_;
};

// The byte HeapAlloc fills a new block with, and HeapReAlloc the bytes it
// adds: memory nobody has written yet.
constexpr uint8_t kFreshHeapByte = 0xCD;

// What ExitProcess throws in the host build, so a test can catch the end.
struct ProcessEnded {
  uint32_t exitCode;
};

// How one simulated process ended.
struct ProcessResult {
  bool exitProcessCalled;  // false: the body returned by itself
  uint32_t exitCode;       // ExitProcess's code; 0 when the body returned
};

// Runs `body` as the loader's process in the current simulated Windows and
// returns how it ended. Forgets whatever the logic remembered from an earlier
// process first.
ProcessResult RunProcess(const std::function<void()>& body);

// Runs the whole loader (RunLoader, then EndProcess) as RunProcess does.
ProcessResult RunLoaderProcess();

}  // namespace sim
