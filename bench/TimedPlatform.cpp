#include "bench/TimedPlatform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <stdexcept>
#include <type_traits>

#include "bench/BenchClock.h"
#include "package/CRC32.h"
#include "platform/Platform.h"

// The wrapped symbols are the mangled names of the platform calls on an LP64
// host (size_t is unsigned long, mangled "m").
static_assert(std::is_same_v<size_t, unsigned long>, "the --wrap names in bench/CMakeLists.txt assume LP64");

namespace bench {
namespace {

double gFiles = 0;
double gHeap = 0;

// Adds the time of its scope to `total`.
class Timed {
 public:
  explicit Timed(double& total) : total_(total), start_(Now()) {}
  ~Timed() { total_ += (Now() - start_); }

 private:
  double& total_;
  double start_;
};

struct HostFiles {
  bool active = false;
  std::string loaderPath;   // as the loader names it
  std::string hostPackage;  // what it opens instead
  std::string hostFolder;   // where its copies go
  std::map<platform::Handle, int> open;  // our handles and their descriptors
  uintptr_t nextHandle = 0x7F000000;     // far from the simulated handles
};

HostFiles gHost;
bool gByteAtATimeCrc = false;

bool SameWindowsPath(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

platform::Handle AddHostHandle(int fd) {
  if (fd < 0) return platform::InvalidHandle();
  const auto handle = reinterpret_cast<platform::Handle>(gHost.nextHandle);
  gHost.nextHandle += 4;
  gHost.open[handle] = fd;
  return handle;
}

// The descriptor behind one of our handles, or -1 for a simulated handle.
int HostDescriptor(platform::Handle handle) {
  if (!gHost.active) return -1;
  const auto found = gHost.open.find(handle);
  return found == gHost.open.end() ? -1 : found->second;
}

}  // namespace

void ResetCallTimes() { gFiles = gHeap = 0; }

CallTimes ReadCallTimes() {
  CallTimes times;
  times.files = gFiles;
  times.heap = gHeap;
  return times;
}

void UseHostFiles(const std::string& loaderPath, const std::string& hostPackage, const std::string& hostFolder) {
  gHost.active = true;
  gHost.loaderPath = loaderPath;
  gHost.hostPackage = hostPackage;
  gHost.hostFolder = hostFolder;
}

void UseByteAtATimeCrc(bool byteAtATime) { gByteAtATimeCrc = byteAtATime; }

void UseSimulatedFiles() {
  for (const auto& handle : gHost.open) close(handle.second);
  gHost.open.clear();
  gHost.active = false;
}

}  // namespace bench

using bench::gByteAtATimeCrc;
using bench::gFiles;
using bench::gHeap;
using bench::gHost;
using bench::Timed;
using platform::Handle;

extern "C" {

// The simulated calls, reached through ld's __real_ names.
Handle __real__ZN8platform18OpenFileForReadingEPKc(const char* path);
Handle __real__ZN8platform20CreateFileForWritingEPKc(const char* path);
void __real__ZN8platform14SetFilePointerEPvi(Handle file, int32_t distance);
uint32_t __real__ZN8platform8ReadFileEPvS0_j(Handle file, void* buffer, uint32_t count);
uint32_t __real__ZN8platform9WriteFileEPvPKvj(Handle file, const void* buffer, uint32_t count);
uint32_t __real__ZN8platform11GetFileSizeEPvPj(Handle file, uint32_t* high);
void __real__ZN8platform11CloseHandleEPv(Handle handle);
void* __real__ZN8platform9HeapAllocEm(size_t size);
void* __real__ZN8platform11HeapReAllocEPvm(void* block, size_t size);
void __real__ZN8platform8HeapFreeEPv(void* block);
uint32_t __real__ZN6loader5Crc32EPKhi(const uint8_t* bytes, int32_t length);

uint32_t __wrap__ZN6loader5Crc32EPKhi(const uint8_t* bytes, int32_t length) {
  return gByteAtATimeCrc ? loader::Crc32ByteAtATime(bytes, length) : __real__ZN6loader5Crc32EPKhi(bytes, length);
}

Handle __wrap__ZN8platform18OpenFileForReadingEPKc(const char* path) {
  if (!gHost.active || !bench::SameWindowsPath(path, gHost.loaderPath)) {
    return __real__ZN8platform18OpenFileForReadingEPKc(path);
  }
  Timed timed(gFiles);
  return bench::AddHostHandle(open(gHost.hostPackage.c_str(), O_RDONLY | O_CLOEXEC));
}

Handle __wrap__ZN8platform20CreateFileForWritingEPKc(const char* path) {
  if (!gHost.active) return __real__ZN8platform20CreateFileForWritingEPKc(path);
  Timed timed(gFiles);
  std::string name(path);
  name = name.substr(name.find_last_of('\\') + 1);
  const std::string hostPath = gHost.hostFolder + "/" + name;
  return bench::AddHostHandle(open(hostPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

void __wrap__ZN8platform14SetFilePointerEPvi(Handle file, int32_t distance) {
  const int fd = bench::HostDescriptor(file);
  if (fd < 0) return __real__ZN8platform14SetFilePointerEPvi(file, distance);
  Timed timed(gFiles);
  // FILE_BEGIN with a negative distance fails and leaves the position.
  if (distance >= 0) lseek(fd, distance, SEEK_SET);
}

uint32_t __wrap__ZN8platform8ReadFileEPvS0_j(Handle file, void* buffer, uint32_t count) {
  Timed timed(gFiles);
  const int fd = bench::HostDescriptor(file);
  if (fd < 0) return __real__ZN8platform8ReadFileEPvS0_j(file, buffer, count);
  // One ReadFile reads up to the end of the file; read(2) may stop earlier.
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n = read(fd, static_cast<char*>(buffer) + done, count - done);
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

uint32_t __wrap__ZN8platform9WriteFileEPvPKvj(Handle file, const void* buffer, uint32_t count) {
  Timed timed(gFiles);
  const int fd = bench::HostDescriptor(file);
  if (fd < 0) return __real__ZN8platform9WriteFileEPvPKvj(file, buffer, count);
  uint32_t done = 0;
  while (done < count) {
    const ssize_t n = write(fd, static_cast<const char*>(buffer) + done, count - done);
    if (n <= 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
}

uint32_t __wrap__ZN8platform11GetFileSizeEPvPj(Handle file, uint32_t* high) {
  const int fd = bench::HostDescriptor(file);
  if (fd < 0) return __real__ZN8platform11GetFileSizeEPvPj(file, high);
  Timed timed(gFiles);
  struct stat status;
  if (fstat(fd, &status) != 0) return 0xFFFFFFFFu;
  const uint64_t size = static_cast<uint64_t>(status.st_size);
  if (high != nullptr) *high = static_cast<uint32_t>(size >> 32);
  return static_cast<uint32_t>(size);
}

void __wrap__ZN8platform11CloseHandleEPv(Handle handle) {
  const int fd = bench::HostDescriptor(handle);
  if (fd < 0) return __real__ZN8platform11CloseHandleEPv(handle);
  Timed timed(gFiles);
  close(fd);
  gHost.open.erase(handle);
}

void* __wrap__ZN8platform9HeapAllocEm(size_t size) {
  Timed timed(gHeap);
  return __real__ZN8platform9HeapAllocEm(size);
}

void* __wrap__ZN8platform11HeapReAllocEPvm(void* block, size_t size) {
  Timed timed(gHeap);
  return __real__ZN8platform11HeapReAllocEPvm(block, size);
}

void __wrap__ZN8platform8HeapFreeEPv(void* block) {
  Timed timed(gHeap);
  __real__ZN8platform8HeapFreeEPv(block);
}

}  // extern "C"
