#include "tools/package-builder/Files.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <vector>

namespace packagebuilder {
namespace {

std::string SystemError() { return strerror(errno); }

// The temporary file being written, for the signal handler to remove.
char g_temporaryPath[4096];
volatile sig_atomic_t g_temporaryActive = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void RemoveTemporaryAndDie(int signal) {
  if (g_temporaryActive) unlink(g_temporaryPath);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

// Removes the temporary file on every way out of WriteFileAtomically.
class TTemporaryFile {
 public:
  explicit TTemporaryFile(const std::string& target) {
    std::filesystem::path folder = std::filesystem::path(target).parent_path();
    std::string pattern = (folder.empty() ? std::string(".") : folder.string()) + "/." +
                          std::filesystem::path(target).filename().string() + ".XXXXXX";
    if (pattern.size() >= sizeof g_temporaryPath) throw std::runtime_error("output path too long: " + target);
    memcpy(g_temporaryPath, pattern.c_str(), pattern.size() + 1);
    for (int s : kCleanupSignals) signal(s, RemoveTemporaryAndDie);
    fd_ = mkstemp(g_temporaryPath);
    if (fd_ < 0) {
      const std::string error = SystemError();
      Disarm();
      throw std::runtime_error("cannot create a temporary file beside " + target + ": " + error);
    }
    g_temporaryActive = 1;
    path_ = g_temporaryPath;
  }
  ~TTemporaryFile() {
    if (fd_ >= 0) close(fd_);
    if (g_temporaryActive) unlink(path_.c_str());
    Disarm();
  }
  int Descriptor() const { return fd_; }
  const std::string& Path() const { return path_; }
  void Closed() { fd_ = -1; }
  // After the rename the file is the output: nothing to remove.
  void Kept() { g_temporaryActive = 0; }

 private:
  static void Disarm() {
    g_temporaryActive = 0;
    for (int s : kCleanupSignals) signal(s, SIG_DFL);
  }
  int fd_ = -1;
  std::string path_;
};

}  // namespace

uint64_t InputFileSize(const std::string& path, const std::string& what) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) throw std::runtime_error("cannot read the " + what + " " + path + ": " + SystemError());
  if (!S_ISREG(info.st_mode)) throw std::runtime_error("cannot read the " + what + " " + path + ": not a regular file");
  return static_cast<uint64_t>(info.st_size);
}

packagewriter::Bytes ReadWholeFile(const std::string& path, const std::string& what, uint64_t limit) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) throw std::runtime_error("cannot read the " + what + " " + path + ": " + SystemError());
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    fclose(file);
    throw std::runtime_error("cannot read the " + what + " " + path + ": not a regular file");
  }
  if (static_cast<uint64_t>(info.st_size) > limit) {
    fclose(file);
    throw std::runtime_error("the " + what + " " + path + " is " + std::to_string(info.st_size) +
                             " bytes; at most " + std::to_string(limit) + " are allowed");
  }
  packagewriter::Bytes bytes(static_cast<size_t>(info.st_size));
  const size_t read = bytes.empty() ? 0 : fread(bytes.data(), 1, bytes.size(), file);
  const bool complete = read == bytes.size() && fgetc(file) == EOF && !ferror(file);
  fclose(file);
  if (!complete) throw std::runtime_error("cannot read the " + what + " " + path + ": it changed while being read");
  return bytes;
}

void WriteFileAtomically(const std::string& path, const packagewriter::Bytes& bytes) {
  TTemporaryFile temporary(path);
  size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = write(temporary.Descriptor(), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("cannot write " + temporary.Path() + ": " + SystemError());
    written += static_cast<size_t>(n);
  }
  // mkstemp makes the file private; give it the usual mode of a new program.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(temporary.Descriptor(), 0777 & ~mask) != 0 || fsync(temporary.Descriptor()) != 0)
    throw std::runtime_error("cannot write " + temporary.Path() + ": " + SystemError());
  const int fd = temporary.Descriptor();
  temporary.Closed();
  if (close(fd) != 0) throw std::runtime_error("cannot write " + temporary.Path() + ": " + SystemError());
  if (rename(temporary.Path().c_str(), path.c_str()) != 0)
    throw std::runtime_error("cannot write " + path + ": " + SystemError());
  temporary.Kept();
}

void CheckOutputPath(const std::string& path) {
  std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error))
    throw std::runtime_error("cannot write " + path + ": the folder " + folder.string() + " does not exist");
  if (access(folder.c_str(), W_OK) != 0)
    throw std::runtime_error("cannot write " + path + ": " + SystemError());
  if (std::filesystem::is_directory(path, error)) throw std::runtime_error("cannot write " + path + ": it is a folder");
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

std::string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

}  // namespace packagebuilder
