#include "tests/fuzz/FuzzInput.h"

#include <string.h>

#include <algorithm>
#include <initializer_list>

#include "package/CRC32.h"
#include "package/StubTypes.h"

namespace fuzz {

namespace {

bool Bit(uint8_t flags, int bit) { return ((flags >> bit) & 1) != 0; }

uint8_t Bits(std::initializer_list<bool> values) {
  uint8_t flags = 0;
  int bit = 0;
  for (bool value : values) {
    if (value) flags = static_cast<uint8_t>(flags | (1 << bit));
    ++bit;
  }
  return flags;
}

// 0xFF stands for the largest number, so the composed names meet it.
uint32_t Version(uint8_t byte) { return byte == 0xFF ? 0xFFFFFFFFu : byte; }
uint8_t VersionByte(uint32_t value) { return value > 0xFE ? 0xFF : static_cast<uint8_t>(value); }

}  // namespace

bool ParseRunInput(const uint8_t* data, size_t size, RunProfile& profile) {
  if (size < kProfileSize) return false;
  profile.major = Version(data[0]);
  profile.minor = Version(data[1]);
  profile.platformId = data[2];
  profile.servicePack = data[3];

  const uint8_t a = data[4], b = data[5], c = data[6];
  profile.versionQueryFails = Bit(a, 0);
  profile.servicePackQueryFails = Bit(a, 1);
  profile.noIsWow64Process = Bit(a, 2);
  profile.isWow64ProcessFails = Bit(a, 3);
  profile.wow64 = Bit(a, 4);
  profile.noCheckTokenMembership = Bit(a, 5);
  profile.checkTokenMembershipFails = Bit(a, 6);
  profile.administrator = Bit(a, 7);
  profile.allocateSidFails = Bit(b, 0);
  profile.noMpr = Bit(b, 1);
  profile.networkDrive = Bit(b, 2);
  profile.codePage932 = Bit(b, 3);
  profile.noTempPath = Bit(b, 4);
  profile.copyNameTaken = Bit(b, 5);
  profile.keepChecksum = Bit(b, 6);
  profile.openFails = Bit(b, 7);
  profile.createFails = Bit(c, 0);
  profile.startFails = Bit(c, 1);
  profile.shellGivesNoProcess = Bit(c, 2);
  profile.nameWithoutExtension = Bit(c, 3);
  profile.longLoaderPath = Bit(c, 4);
  profile.longTempPath = Bit(c, 5);

  profile.writeLimit = data[7];
  profile.freeDiskSpace = data[8];
  profile.failAllocation = data[9];
  profile.heapLimit = data[10];

  size_t at = kProfileSize;
  const uint8_t releaseLength = data[11];
  const size_t argumentsLength = std::min<size_t>(data[12] | (data[13] << 8), kMaxArguments);
  if (releaseLength == 0xFF) {
    profile.releaseId.reset();
  } else {
    const size_t n = std::min<size_t>(releaseLength, size - at);
    profile.releaseId = std::string(reinterpret_cast<const char*>(data + at), n);
    at += n;
  }
  const size_t n = std::min(argumentsLength, size - at);
  profile.arguments.assign(reinterpret_cast<const char*>(data + at), n);
  at += n;

  const size_t locator = std::min(kLocatorSize, size - at);
  profile.locator.assign(data + at, data + at + locator);
  at += locator;
  profile.package.assign(data + at, data + size);
  return true;
}

std::vector<uint8_t> SerializeRunInput(const RunProfile& p) {
  std::vector<uint8_t> bytes(kProfileSize, 0);
  bytes[0] = VersionByte(p.major);
  bytes[1] = VersionByte(p.minor);
  bytes[2] = static_cast<uint8_t>(p.platformId);
  bytes[3] = static_cast<uint8_t>(p.servicePack);
  bytes[4] = Bits({p.versionQueryFails, p.servicePackQueryFails, p.noIsWow64Process, p.isWow64ProcessFails, p.wow64,
                   p.noCheckTokenMembership, p.checkTokenMembershipFails, p.administrator});
  bytes[5] = Bits({p.allocateSidFails, p.noMpr, p.networkDrive, p.codePage932, p.noTempPath, p.copyNameTaken,
                   p.keepChecksum, p.openFails});
  bytes[6] = Bits({p.createFails, p.startFails, p.shellGivesNoProcess, p.nameWithoutExtension, p.longLoaderPath,
                   p.longTempPath});
  bytes[7] = p.writeLimit;
  bytes[8] = p.freeDiskSpace;
  bytes[9] = p.failAllocation;
  bytes[10] = p.heapLimit;
  const std::string release = p.releaseId ? p.releaseId->substr(0, 0xFE) : std::string();
  bytes[11] = p.releaseId ? static_cast<uint8_t>(release.size()) : 0xFF;
  const std::string arguments = p.arguments.substr(0, kMaxArguments);
  bytes[12] = static_cast<uint8_t>(arguments.size());
  bytes[13] = static_cast<uint8_t>(arguments.size() >> 8);
  bytes.insert(bytes.end(), release.begin(), release.end());
  bytes.insert(bytes.end(), arguments.begin(), arguments.end());
  std::vector<uint8_t> locator = p.locator;
  locator.resize(kLocatorSize, 0);
  bytes.insert(bytes.end(), locator.begin(), locator.end());
  bytes.insert(bytes.end(), p.package.begin(), p.package.end());
  return bytes;
}

const std::vector<uint8_t>& Stub() {
  static const std::vector<uint8_t> stub = [] {
    std::vector<uint8_t> bytes(kStubSize, 0);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    loader::WriteLittle32(bytes.data() + 0x3C, 256);
    bytes[256] = 'P';
    bytes[257] = 'E';
    return bytes;
  }();
  return stub;
}

std::vector<uint8_t> LoaderFile(const RunProfile& profile) {
  std::vector<uint8_t> file(Stub().begin(), Stub().begin() + kLocatorAt);
  file.insert(file.end(), profile.locator.begin(), profile.locator.end());
  if (profile.locator.size() < kLocatorSize) return file;
  file.insert(file.end(), Stub().begin() + kLocatorAt + kLocatorSize, Stub().end());
  file.insert(file.end(), profile.package.begin(), profile.package.end());

  if (!profile.keepChecksum) {
    loader::PackageLocator locator;
    memcpy(locator.Bytes, file.data() + kLocatorAt, kLocatorSize);
    const uint64_t start = locator.HeaderOffset();
    const uint64_t length = locator.ChecksumLength();
    if (length < 0x80000000u && start + length <= file.size()) {
      const uint32_t crc = loader::Crc32(file.data() + start, static_cast<int32_t>(length));
      loader::WriteLittle32(file.data() + kLocatorAt + 8, crc);
    }
  }
  return file;
}

}  // namespace fuzz
