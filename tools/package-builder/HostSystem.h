// What the package builder takes from the operating system and does
// differently on Linux (HostSystemPosix.cpp) and on Windows
// (HostSystemWindows.cpp): its arguments, its own folder, opening files by
// name, replacing a file in one step, and the console. File names and texts
// are UTF-8 inside the builder on both.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

namespace packagebuilder {

// The arguments after the program name, UTF-8. On Windows they are read from
// the UTF-16 command line, so a text or file name keeps characters that the
// ANSI code page lacks.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Lets the console show the UTF-8 that the builder prints: on Windows the
// console's output code page is UTF-8 for the run and restored at its end;
// elsewhere nothing to do.
void ShowUtf8OnConsole();

// Whether stderr is an interactive terminal or console (not a file, pipe or
// the null device).
bool StderrIsTerminal();

// The folder that holds the running program; "" when unknown.
std::string ProgramFolder();

// Opens the regular file `path` for binary reading and sets `size`. Returns
// nullptr and sets `error` (one line) when it cannot be opened or is no
// regular file.
FILE* OpenForReading(const std::string& path, uint64_t& size, std::string& error);

// Why files cannot be made in the existing folder `folder`, or "" when they
// can as far as can be told without making one.
std::string FolderWriteProblem(const std::string& folder);

// A new temporary file in the folder of `target`, which either takes the
// target's place in one step (Commit; a file there is replaced) or is
// removed: when the object goes without Commit, and when an interrupt
// (Ctrl+C, SIGTERM, the console closing) ends the program meanwhile.
class TReplacementFile {
 public:
  // Creates the temporary file; throws std::runtime_error when it cannot.
  explicit TReplacementFile(const std::string& target);
  ~TReplacementFile();
  TReplacementFile(const TReplacementFile&) = delete;
  TReplacementFile& operator=(const TReplacementFile&) = delete;

  // Appends `size` bytes; throws std::runtime_error when they cannot all be written.
  void Write(const uint8_t* data, size_t size);
  // Flushes the file to disk, closes it and moves it to the target's name.
  // Throws std::runtime_error when a step fails (the destructor then removes it).
  void Commit();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace packagebuilder
