#include "platform/Platform.h"
#include "run/StubCore.h"

namespace loader {

const char* FatalErrorText(FatalError error) {
  switch (error) {
    case FatalError::PackageDamaged:
      return "An error occurred while trying to read the setup package.  It has most likely been damaged.  "
             "Please obtain a new copy from the vendor.";
    case FatalError::PackageTruncated:
      return "The setup package has been truncated.  You most likely have an incomplete download.  "
             "Try downloading it again.";
    case FatalError::TempCopyFailed:
      return "An error occurred while trying to create a temporary copy of the setup package.  Please make sure "
             "that you have sufficient access rights to this computer to install software and that the Windows "
             "TEMP folder can be written to.  You can make this installer use a different folder for its temporary "
             "files using the /temp command line parameter followed by the path to a folder you can write to and "
             "run applications from.";
    case FatalError::LaunchFailed:
      break;
  }
  return "The temporary copy of the setup package could not be executed.  Your system may have a software "
         "restriction policy in place that blocks executables in the temporary files folder.  You can make this "
         "installer use a different folder for its temporary files using the /temp command line parameter followed "
         "by the path to a folder you can write to and run applications from.";
}

platform::AnsiString LoaderPath() {
  char buffer[261];
  buffer[0] = 0;
  uint32_t length = platform::GetModuleFileNameA(buffer, sizeof buffer);
  if (length >= sizeof buffer) length = sizeof buffer - 1;
  buffer[length] = 0;
  return platform::AnsiString(buffer);
}

void ShowFatalError(FatalError error) {
  platform::MessageBoxA(FatalErrorText(error), LoaderPath().Text(), platform::MB_ICONERROR);
  EndProcess();
}

void EndProcess() { platform::ExitProcess(0); }

}  // namespace loader
