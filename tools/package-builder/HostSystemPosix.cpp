#include "tools/package-builder/HostSystem.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

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

void DisarmSignals() {
  g_temporaryActive = 0;
  for (int s : kCleanupSignals) signal(s, SIG_DFL);
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void ShowUtf8OnConsole() {}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

std::string ProgramFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

FILE* OpenForReading(const std::string& path, uint64_t& size, std::string& error) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) {
    error = SystemError();
    return nullptr;
  }
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
    fclose(file);
    error = "not a regular file";
    return nullptr;
  }
  size = static_cast<uint64_t>(info.st_size);
  return file;
}

std::string FolderWriteProblem(const std::string& folder) {
  return access(folder.c_str(), W_OK) == 0 ? std::string() : SystemError();
}

struct TReplacementFile::State {
  std::string target, path;
  int fd = -1;
};

TReplacementFile::TReplacementFile(const std::string& target) : state_(new State) {
  state_->target = target;
  const std::filesystem::path folder = std::filesystem::path(target).parent_path();
  const std::string pattern = (folder.empty() ? std::string(".") : folder.string()) + "/." +
                              std::filesystem::path(target).filename().string() + ".XXXXXX";
  if (pattern.size() >= sizeof g_temporaryPath) throw std::runtime_error("output path too long: " + target);
  memcpy(g_temporaryPath, pattern.c_str(), pattern.size() + 1);
  for (int s : kCleanupSignals) signal(s, RemoveTemporaryAndDie);
  state_->fd = mkstemp(g_temporaryPath);
  if (state_->fd < 0) {
    const std::string error = SystemError();
    DisarmSignals();
    throw std::runtime_error("cannot create a temporary file beside " + target + ": " + error);
  }
  g_temporaryActive = 1;
  state_->path = g_temporaryPath;
}

TReplacementFile::~TReplacementFile() {
  if (state_->fd >= 0) close(state_->fd);
  if (g_temporaryActive) unlink(state_->path.c_str());
  DisarmSignals();
}

void TReplacementFile::Write(const uint8_t* data, size_t size) {
  size_t written = 0;
  while (written < size) {
    const ssize_t n = write(state_->fd, data + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("cannot write " + state_->path + ": " + SystemError());
    written += static_cast<size_t>(n);
  }
}

void TReplacementFile::Commit() {
  // mkstemp makes the file private; give it the usual mode of a new program.
  const mode_t mask = umask(0);
  umask(mask);
  if (fchmod(state_->fd, 0777 & ~mask) != 0 || fsync(state_->fd) != 0)
    throw std::runtime_error("cannot write " + state_->path + ": " + SystemError());
  const int fd = state_->fd;
  state_->fd = -1;
  if (close(fd) != 0) throw std::runtime_error("cannot write " + state_->path + ": " + SystemError());
  if (rename(state_->path.c_str(), state_->target.c_str()) != 0)
    throw std::runtime_error("cannot write " + state_->target + ": " + SystemError());
  // The file is the output now: nothing to remove.
  g_temporaryActive = 0;
}

}  // namespace packagebuilder
