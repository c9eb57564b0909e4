// The Windows side of a benchmark run, kept apart from the loader's own code.
//
// The bench links the loader's logic over the simulated Windows with the
// heavy platform calls wrapped (ld --wrap, see CMakeLists.txt): every call of
// ReadFile, WriteFile, HeapAlloc, HeapReAlloc and HeapFree, and in the
// file-backed mode every file call, is timed, so that the time spent inside
// them can be reported as the operating system's and taken off the loader's.
// The loader's own Crc32 is wrapped too, to time the road with either form.
// The simulated file calls copy every byte and the simulated heap fills every
// new block, which a real Windows does differently; neither is the loader's.
//
// The file-backed mode puts the loader's own file and the copies it writes on
// the host's disk: those calls become open/read/write/lseek on real files,
// while everything else stays simulated.
#pragma once

#include <string>

namespace bench {

// Seconds spent inside the wrapped calls since the last ResetCallTimes.
struct CallTimes {
  double files = 0;  // ReadFile, WriteFile (and, file-backed, open, seek, size, close)
  double heap = 0;   // HeapAlloc, HeapReAlloc, HeapFree
  double Total() const { return files + heap; }
};

void ResetCallTimes();
CallTimes ReadCallTimes();

// From now on, opening `loaderPath` (the simulated module path) for reading
// opens `hostPackage`, and every file created for writing is created in
// `hostFolder` under its name part. Handles of real files are told apart from
// simulated ones by a table.
void UseHostFiles(const std::string& loaderPath, const std::string& hostPackage, const std::string& hostFolder);
// Back to the simulated file system for every call.
void UseSimulatedFiles();

// Whether the loader's calls of Crc32 go to Crc32ByteAtATime instead (the
// written form), so the road can be timed with either.
void UseByteAtATimeCrc(bool byteAtATime);

}  // namespace bench
