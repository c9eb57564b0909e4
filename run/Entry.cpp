// The Windows stub's entry point (linked with -e; there is no C runtime to
// call main). Windows build only.
#include "platform/win32/Startup.h"
#include "run/StubCore.h"

extern "C" [[noreturn]] void __stdcall LoaderEntry() {
  platform::RestrictDllSearch();
  platform::RunStaticConstructors();
  loader::RunLoader();
  loader::EndProcess();
}
