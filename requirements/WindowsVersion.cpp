#include "requirements/WindowsVersion.h"

#include "package/PackageMessage.h"

namespace loader {
namespace {

constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kReleaseIdSize = 64;

[[noreturn]] void RefuseVersion(platform::Handle file, const PackageHeader& header, const platform::AnsiString& name) {
  ShowPackageMessage(file, header.SystemMessage(), name);
}

// "Windows " and the major version in two digits (07, 11); numbers of 100 and
// more in full, since two digits cannot hold them.
void AppendMajor(platform::AnsiString& name, uint32_t major) {
  if (major < 10) name.Append('0');
  name.AppendDecimal(major);
}

// The name of a version that has no name of its own: "Windows 07.0",
// "Windows 10.12".
platform::AnsiString ComposedName(uint32_t major, uint32_t minor) {
  platform::AnsiString name("Windows ");
  AppendMajor(name, major);
  name.Append('.');
  name.AppendDecimal(minor);
  return name;
}

// The named releases of Windows 10, by release number; null for others.
const char* ReleaseName(uint32_t release) {
  switch (release) {
    case 1507: return "Windows 10 1507 (Original Release)";
    case 1511: return "Windows 10 1511 (November Update)";
    case 1607: return "Windows 10 1607 (Anniversary Update)";
    case 1703: return "Windows 10 1703 (Creators Update)";
    case 1709: return "Windows 10 1709 (Fall Creators Update)";
    case 1803: return "Windows 10 1803 (April 2018 Update)";
    case 1809: return "Windows 10 1809 (October 2018 Update)";
    default: return nullptr;
  }
}

// Passes when `element` is supported, else refuses with `name`.
void Require(platform::Handle file, const PackageHeader& header, unsigned element, const char* name) {
  if (!header.Supports(element)) RefuseVersion(file, header, platform::AnsiString(name));
}

void CheckWindows4(platform::Handle file, const PackageHeader& header, uint32_t minor, uint32_t platformId) {
  if (platformId == kPlatformWin32Nt) {
    Require(file, header, WindowsNT4, "Windows NT 4");
  } else if (minor <= 3) {
    Require(file, header, Windows95, "Windows 95");
  } else if (minor == 10) {
    Require(file, header, Windows98, "Windows 98");
  } else {
    Require(file, header, WindowsME, "Windows ME");
  }
}

void CheckWindows6(platform::Handle file, const PackageHeader& header, uint32_t minor) {
  switch (minor) {
    case 0: Require(file, header, WindowsVista, "Windows Vista"); return;
    case 1: Require(file, header, Windows7, "Windows 7"); return;
    case 2: Require(file, header, Windows8, "Windows 8"); return;
    case 3: Require(file, header, Windows81, "Windows 8.1"); return;
    default: break;
  }
  // Later 6.x versions never shipped: refused whatever the package says.
  platform::AnsiString name("Windows 6.");
  name.AppendDecimal(minor);
  RefuseVersion(file, header, name);
}

}  // namespace

void CheckWindowsVersion(platform::Handle file, const PackageHeader& header, const SystemVersion& version) {
  const uint32_t major = version.MajorVersion;
  const uint32_t minor = version.MinorVersion;
  switch (major) {
    case 4:
      CheckWindows4(file, header, minor, version.PlatformId);
      return;
    case 5:
      if (minor == 0) {
        Require(file, header, Windows2000, "Windows 2000");
        CheckWindows2000ServicePack(file, header);
      } else {
        Require(file, header, WindowsXP, "Windows XP");
      }
      return;
    case 6:
      CheckWindows6(file, header, minor);
      return;
    case 10:
      if (minor == 0) {
        Require(file, header, Windows10, "Windows 10");
        CheckReleaseId(file, header);
        return;
      }
      break;
    default:
      break;
  }
  if (!header.Supports(LaterWindows)) RefuseVersion(file, header, ComposedName(major, minor));
}

void CheckWindows2000ServicePack(platform::Handle file, const PackageHeader& header) {
  // A package that still supports Windows 95, 98 or ME accepts any Windows
  // 2000.
  if ((header.Bytes[5] & 0x07) != 0) return;
  platform::OsVersionInfoEx info = {};
  if (!platform::GetVersionExA(info)) return;
  if (info.ServicePackMajor == 0) RefuseVersion(file, header, platform::AnsiString("Windows 2000 (no Service Pack)"));
  if (info.ServicePackMajor < 4) {
    platform::AnsiString name("Windows 2000 Service Pack ");
    name.Append(static_cast<char>('0' + info.ServicePackMajor));
    RefuseVersion(file, header, name);
  }
}

void CheckReleaseId(platform::Handle file, const PackageHeader& header) {
  platform::Handle key = nullptr;
  if (platform::RegOpenLocalMachineKeyA("Software\\Microsoft\\Windows NT\\CurrentVersion", kKeyRead, &key) != 0) {
    return;
  }
  uint8_t text[kReleaseIdSize] = {};
  uint32_t type = 0;
  uint32_t size = kReleaseIdSize;
  if (platform::RegQueryValueExA(key, "ReleaseId", &type, text, &size) != 0) {
    platform::RegCloseKey(key);
    return;
  }

  // The leading digits, in wrapping 32-bit arithmetic.
  const uint32_t limit = size < kReleaseIdSize ? size : kReleaseIdSize;
  uint32_t release = 0;
  for (uint32_t i = 0; i < limit && text[i] >= '0' && text[i] <= '9'; ++i) {
    release = release * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  const uint16_t low = static_cast<uint16_t>(release);
  if (header.MinReleaseId() <= low && low <= header.MaxReleaseId()) {
    platform::RegCloseKey(key);
    return;
  }

  // Refused: the key stays open until the process ends.
  if (const char* known = ReleaseName(release)) RefuseVersion(file, header, platform::AnsiString(known));
  size_t length = 0;
  while (length < kReleaseIdSize && text[length] != 0) ++length;
  platform::AnsiString name("Windows 10 ");
  name.Append(reinterpret_cast<const char*>(text), length);
  RefuseVersion(file, header, name);
}

}  // namespace loader
