// Starting, waiting for and ending processes.
#include "platform/Platform.h"

#include <windows.h>

static_assert(sizeof(STARTUPINFOA) == 68, "STARTUPINFOA is 68 bytes");
static_assert(sizeof(SHELLEXECUTEINFOA) == 60, "SHELLEXECUTEINFOA is 60 bytes");

namespace platform {

bool CreateProcessA(char* commandLine, const char* currentDirectory, ProcessInformation& info) {
  STARTUPINFOA startupInfo = {};
  startupInfo.cb = sizeof startupInfo;
  PROCESS_INFORMATION started = {};
  const BOOL ok = ::CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, currentDirectory,
                                   &startupInfo, &started);
  info.Process = started.hProcess;
  info.Thread = started.hThread;
  info.ProcessId = started.dwProcessId;
  info.ThreadId = started.dwThreadId;
  return ok != FALSE;
}

bool ShellExecuteExA(ShellExecuteRecord& record) {
  SHELLEXECUTEINFOA execute = {};
  execute.cbSize = sizeof execute;
  execute.fMask = SEE_MASK_NOCLOSEPROCESS;
  execute.lpVerb = record.Verb;
  execute.lpFile = record.File;
  execute.lpParameters = record.Parameters;
  execute.nShow = SW_SHOW;
  const BOOL ok = ::ShellExecuteExA(&execute);
  record.Process = execute.hProcess;
  return ok != FALSE;
}

void WaitForSingleObject(Handle handle) { ::WaitForSingleObject(handle, INFINITE); }

void ExitProcess(uint32_t exitCode) { ::ExitProcess(exitCode); }

}  // namespace platform
