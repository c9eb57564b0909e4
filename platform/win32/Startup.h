// Start-up work of the Windows stub that the C runtime would otherwise do, or
// that must happen before the loader's run. Windows build only.
#pragma once

namespace platform {

// Keeps DLLs that get loaded later in the process (by the shell, say) from
// being found in the current or the loader's own folder, where a download
// folder may hold planted ones: SetDefaultDllDirectories(system folder only)
// where the system has it, else SetDllDirectoryA("") to drop the current
// folder, else nothing. Both are looked up at run time.
void RestrictDllSearch();

// Runs the constructors of objects with static storage, as the C runtime
// would before main. Their destructors never run: the process always ends
// through ExitProcess.
void RunStaticConstructors();

}  // namespace platform
