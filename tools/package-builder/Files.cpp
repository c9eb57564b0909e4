#include "tools/package-builder/Files.h"

#include <stdio.h>

#include <filesystem>
#include <stdexcept>

#include "tools/package-builder/HostSystem.h"

namespace packagebuilder {
namespace {

// File names are UTF-8 on every system the builder runs on.
std::filesystem::path FileSystemPath(const std::string& path) { return std::filesystem::u8path(path); }

}  // namespace

uint64_t InputFileSize(const std::string& path, const std::string& what) {
  uint64_t size = 0;
  std::string error;
  FILE* file = OpenForReading(path, size, error);
  if (!file) throw std::runtime_error("cannot read the " + what + " " + path + ": " + error);
  fclose(file);
  return size;
}

packagewriter::Bytes ReadWholeFile(const std::string& path, const std::string& what, uint64_t limit) {
  uint64_t size = 0;
  std::string error;
  FILE* file = OpenForReading(path, size, error);
  if (!file) throw std::runtime_error("cannot read the " + what + " " + path + ": " + error);
  if (size > limit) {
    fclose(file);
    throw std::runtime_error("the " + what + " " + path + " is " + std::to_string(size) + " bytes; at most " +
                             std::to_string(limit) + " are allowed");
  }
  packagewriter::Bytes bytes(static_cast<size_t>(size));
  const size_t read = bytes.empty() ? 0 : fread(bytes.data(), 1, bytes.size(), file);
  const bool complete = read == bytes.size() && fgetc(file) == EOF && !ferror(file);
  fclose(file);
  if (!complete) throw std::runtime_error("cannot read the " + what + " " + path + ": it changed while being read");
  return bytes;
}

void WriteFileAtomically(const std::string& path, const packagewriter::Bytes& bytes) {
  TReplacementFile file(path);
  file.Write(bytes.data(), bytes.size());
  file.Commit();
}

void CheckOutputPath(const std::string& path) {
  std::filesystem::path folder = FileSystemPath(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error))
    throw std::runtime_error("cannot write " + path + ": the folder " + folder.u8string() + " does not exist");
  if (const std::string problem = FolderWriteProblem(folder.u8string()); !problem.empty())
    throw std::runtime_error("cannot write " + path + ": " + problem);
  if (std::filesystem::is_directory(FileSystemPath(path), error))
    throw std::runtime_error("cannot write " + path + ": it is a folder");
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(FileSystemPath(a), FileSystemPath(b), error) && !error;
}

}  // namespace packagebuilder
