// The Windows version gate: naming the running version, the SupportedSystems
// element it needs, the Windows 2000 service-pack rule and the Windows 10
// release range.
#include <gtest/gtest.h>

#include <string>

#include "platform/simulated/SimulatedWindows.h"
#include "requirements/WindowsVersion.h"
#include "tests/support/Packages.h"

namespace {

using loader::SupportedSystem;

constexpr uint64_t kAll = ~0ull;
constexpr uint64_t kLater = 1ull << loader::LaterWindows;
// Byte 5 0xE0, byte 6 0x07, byte 12 0x80: Windows XP to 10 and later versions.
constexpr uint64_t kExampleSet = 0x80000000000007E0ull;
constexpr const char* kVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";

uint64_t Only(unsigned element) { return 1ull << element; }
uint64_t AllBut(unsigned element) { return kAll & ~Only(element); }

// The SystemMessage is the placeholder alone, so the box shows the name.
packagewriter::BuiltPackage BuildFixture() {
  packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
  inputs.systemMessage = u"%USER%";
  return packagewriter::BuildPackage(inputs);
}

const packagewriter::BuiltPackage& Fixture() {
  static const packagewriter::BuiltPackage package = BuildFixture();
  return package;
}

loader::PackageHeader HeaderWith(uint64_t supported, uint16_t minRelease = 0, uint16_t maxRelease = 0xFFFF) {
  loader::PackageHeader header = Fixture().header;
  for (unsigned i = 0; i < 8; ++i) {
    header.Bytes[loader::header_offset::SupportedSystems + i] = static_cast<uint8_t>(supported >> (8 * i));
  }
  loader::WriteLittle16(header.Bytes + loader::header_offset::MinReleaseId, minRelease);
  loader::WriteLittle16(header.Bytes + loader::header_offset::MaxReleaseId, maxRelease);
  return header;
}

// The gate's answer: "" when the version passes, else the name it shows.
std::string RunGate(sim::SimulatedWindows& win, const loader::PackageHeader& header, uint32_t major, uint32_t minor,
                    uint32_t platformId = 2) {
  fixtures::InstallLoader(win, Fixture());
  const loader::SystemVersion version = {major, minor, platformId};
  const sim::ProcessResult result = sim::RunProcess([&] {
    platform::Handle file = platform::OpenFileForReading(win.modulePath.c_str());
    loader::CheckWindowsVersion(file, header, version);
  });
  if (!result.exitProcessCalled) {
    EXPECT_TRUE(win.messageBoxes.empty());
    return "";
  }
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(win.messageBoxes.size(), 1u);
  return win.messageBoxes.empty() ? "<no box>" : win.messageBoxes[0].text;
}

struct ClassCase {
  uint32_t major, minor, platformId;
  unsigned element;  // the element this version needs
  const char* name;
};

TEST(CheckWindowsVersion, ClassifiesEveryVersionByItsElement) {
  const ClassCase cases[] = {
      {4, 0, 2, loader::WindowsNT4, "Windows NT 4"},
      {4, 10, 2, loader::WindowsNT4, "Windows NT 4"},
      {4, 90, 2, loader::WindowsNT4, "Windows NT 4"},
      {4, 0, 1, loader::Windows95, "Windows 95"},
      {4, 3, 1, loader::Windows95, "Windows 95"},
      {4, 0, 0, loader::Windows95, "Windows 95"},
      {4, 10, 1, loader::Windows98, "Windows 98"},
      {4, 4, 1, loader::WindowsME, "Windows ME"},
      {4, 9, 1, loader::WindowsME, "Windows ME"},
      {4, 11, 1, loader::WindowsME, "Windows ME"},
      {4, 90, 1, loader::WindowsME, "Windows ME"},
      {4, 0xFFFFFFFF, 1, loader::WindowsME, "Windows ME"},  // minor compared unsigned
      {5, 0, 2, loader::Windows2000, "Windows 2000"},
      {5, 1, 2, loader::WindowsXP, "Windows XP"},
      {5, 2, 2, loader::WindowsXP, "Windows XP"},
      {5, 10, 2, loader::WindowsXP, "Windows XP"},
      {6, 0, 2, loader::WindowsVista, "Windows Vista"},
      {6, 1, 2, loader::Windows7, "Windows 7"},
      {6, 2, 2, loader::Windows8, "Windows 8"},
      {6, 3, 2, loader::Windows81, "Windows 8.1"},
      {10, 0, 2, loader::Windows10, "Windows 10"},
      {10, 1, 2, loader::LaterWindows, "Windows 10.1"},
      {10, 9, 2, loader::LaterWindows, "Windows 10.9"},
      {0, 0, 0, loader::LaterWindows, "Windows 00.0"},
      {3, 51, 2, loader::LaterWindows, "Windows 03.51"},
      {7, 0, 2, loader::LaterWindows, "Windows 07.0"},
      {9, 9, 2, loader::LaterWindows, "Windows 09.9"},
      {11, 0, 2, loader::LaterWindows, "Windows 11.0"},
      {99, 9, 2, loader::LaterWindows, "Windows 99.9"},
      // Numbers beyond the composed name's digits are written in full.
      {10, 12, 2, loader::LaterWindows, "Windows 10.12"},
      {100, 0, 2, loader::LaterWindows, "Windows 100.0"},
      {0xFFFFFFFF, 0xFFFFFFFF, 2, loader::LaterWindows, "Windows 4294967295.4294967295"},
  };
  for (const ClassCase& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.major << "." << c.minor << " platform " << c.platformId);
    {
      sim::SimulatedWindows win;
      EXPECT_EQ(RunGate(win, HeaderWith(kAll), c.major, c.minor, c.platformId), "") << "with every element";
    }
    {
      sim::SimulatedWindows win;
      EXPECT_EQ(RunGate(win, HeaderWith(AllBut(c.element)), c.major, c.minor, c.platformId), c.name)
          << "without its element";
    }
    {
      // Its element alone (Windows 2000 then has no service-pack exemption).
      sim::SimulatedWindows win;
      win.servicePackMajor = 4;
      EXPECT_EQ(RunGate(win, HeaderWith(Only(c.element)), c.major, c.minor, c.platformId), "") << "its element alone";
    }
  }
}

TEST(CheckWindowsVersion, LaterSixVersionsAreAlwaysRefused) {
  const struct {
    uint32_t minor;
    const char* name;
  } cases[] = {{4, "Windows 6.4"}, {9, "Windows 6.9"}, {12, "Windows 6.12"}, {0xFFFFFFFF, "Windows 6.4294967295"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    sim::SimulatedWindows win;
    EXPECT_EQ(RunGate(win, HeaderWith(kAll), 6, c.minor), c.name);
  }
}

TEST(CheckWindowsVersion, ExampleSetWithAndWithoutLaterWindows) {
  const struct {
    uint64_t supported;
    uint32_t major, minor, platformId;
    const char* shown;  // "" = passes
  } cases[] = {
      {kExampleSet, 6, 1, 2, ""},
      {kExampleSet, 5, 0, 2, "Windows 2000"},
      {kExampleSet, 4, 0, 2, "Windows NT 4"},
      {kExampleSet, 4, 10, 1, "Windows 98"},
      {kExampleSet, 4, 90, 1, "Windows ME"},
      {kExampleSet, 6, 4, 2, "Windows 6.4"},
      {kExampleSet, 10, 1, 2, ""},
      {kExampleSet, 11, 0, 2, ""},
      {kExampleSet & ~kLater, 10, 1, 2, "Windows 10.1"},
      {kExampleSet & ~kLater, 11, 0, 2, "Windows 11.0"},
      {kExampleSet & ~kLater, 7, 0, 2, "Windows 07.0"},
      {kExampleSet & ~kLater, 6, 4, 2, "Windows 6.4"},
      {kExampleSet & ~kLater, 10, 0, 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.major << "." << c.minor << " in " << std::hex << c.supported);
    sim::SimulatedWindows win;
    EXPECT_EQ(RunGate(win, HeaderWith(c.supported), c.major, c.minor, c.platformId), c.shown);
    EXPECT_EQ(win.CountEvents("GetVersionExA"), 0u) << "the gate itself makes no version query";
  }
}

TEST(CheckWindows2000ServicePack, RefusesServicePacksBelowFourWhenNoWindows9xIsSupported) {
  const uint64_t only2000 = Only(loader::Windows2000);
  const struct {
    const char* what;
    uint64_t supported;
    bool queryFails;
    uint16_t servicePack;
    const char* shown;
    size_t secondQueries;  // "GetVersionExA 156" events
  } cases[] = {
      {"no service pack", only2000, false, 0, "Windows 2000 (no Service Pack)", 1},
      {"SP1", only2000, false, 1, "Windows 2000 Service Pack 1", 1},
      {"SP2", only2000, false, 2, "Windows 2000 Service Pack 2", 1},
      {"SP3", only2000, false, 3, "Windows 2000 Service Pack 3", 1},
      {"SP4", only2000, false, 4, "", 1},
      {"SP7", only2000, false, 7, "", 1},
      {"second query fails", only2000, true, 0, "", 1},
      {"95 supported too", only2000 | Only(loader::Windows95), false, 0, "", 0},
      {"98 supported too", only2000 | Only(loader::Windows98), false, 3, "", 0},
      {"ME supported too", only2000 | Only(loader::WindowsME), false, 1, "", 0},
      {"NT 4 supported too: no exemption", only2000 | Only(loader::WindowsNT4), false, 3,
       "Windows 2000 Service Pack 3", 1},
      {"Windows 2000 absent", AllBut(loader::Windows2000) & ~0x7ull, false, 4, "Windows 2000", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimulatedWindows win;
    win.servicePackQueryFails = c.queryFails;
    win.servicePackMajor = c.servicePack;
    EXPECT_EQ(RunGate(win, HeaderWith(c.supported), 5, 0), c.shown);
    EXPECT_EQ(win.CountEvents("GetVersionExA 156"), c.secondQueries);
    EXPECT_EQ(win.CountEvents("GetVersionExA 148"), 0u);
  }
}

// How the ReleaseId value stands in the registry.
enum class Value { Text, RawBytes, Missing, KeyMissing };

struct ReleaseCase {
  const char* what;
  Value value;
  std::string bytes;  // Text: stored with a NUL after it; RawBytes: as is
  uint16_t minRelease, maxRelease;
  std::string shown;  // "" = passes
};

TEST(CheckReleaseId, ComparesTheReleaseNumberWithTheRange) {
  const std::string sixtyFour = "1234567890" + std::string(54, 'x');
  const ReleaseCase cases[] = {
      {"inside the range", Value::Text, "1903", 1507, 9999, ""},
      {"at the lower bound", Value::Text, "1507", 1507, 9999, ""},
      {"at the upper bound", Value::Text, "9999", 1507, 9999, ""},
      {"below Min: a named release", Value::Text, "1809", 1903, 9999, "Windows 10 1809 (October 2018 Update)"},
      {"above Max: the text as read", Value::Text, "1903", 1507, 1809, "Windows 10 1903"},
      {"value missing: passes", Value::Missing, "", 1903, 1809, ""},
      {"key missing: passes", Value::KeyMissing, "", 1903, 1809, ""},
      {"value longer than 64 bytes: passes", Value::RawBytes, std::string(65, '1'), 1903, 1809, ""},
      {"63 characters and a NUL fit", Value::Text, std::string(63, '9'), 1, 0, "Windows 10 " + std::string(63, '9')},
      {"64 bytes without NUL: shown whole, nothing past", Value::RawBytes, sixtyFour, 1, 0,
       "Windows 10 " + sixtyFour},
      {"not a digit first: number 0, refused above 0", Value::Text, "abc", 1, 0xFFFF, "Windows 10 abc"},
      {"not a digit first: number 0, passes from 0", Value::Text, "abc", 0, 0, ""},
      {"empty text", Value::Text, "", 1, 0xFFFF, "Windows 10 "},
      {"digits end at the first non-digit", Value::Text, "1903H2", 1903, 1903, ""},
      {"refused name keeps the text, not the number", Value::Text, "0019x", 20, 9999, "Windows 10 0019x"},
      {"text shown up to its first NUL", Value::RawBytes, std::string("20\0H2", 5), 21, 9999, "Windows 10 20"},
      {"Min above Max refuses every release", Value::Text, "1600", 2000, 1000, "Windows 10 1600"},
      {"Min above Max refuses a named release by name", Value::Text, "1511", 2000, 1000,
       "Windows 10 1511 (November Update)"},
      // 65536 + 1907: the low 16 bits are compared, the whole number names.
      {"low 16 bits inside the range", Value::Text, "67443", 1903, 1909, ""},
      {"low 16 bits outside the range", Value::Text, "67443", 1507, 1809, "Windows 10 67443"},
      {"no name for a number that only matches in its low 16 bits", Value::Text, "67345", 1900, 2000,
       "Windows 10 67345"},
      // 2^32 + 1507 wraps to 1507.
      {"the parse wraps at 32 bits", Value::Text, "4294968803", 1600, 9999, "Windows 10 1507 (Original Release)"},
      {"wrapped number inside the range", Value::Text, "4294968803", 1507, 1507, ""},
  };
  for (const ReleaseCase& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimulatedWindows win;
    switch (c.value) {
      case Value::Text: win.SetReleaseId(c.bytes); break;
      case Value::RawBytes: win.SetRegistryValue(kVersionKey, "ReleaseId", c.bytes); break;
      case Value::Missing:
        win.SetRegistryValue(kVersionKey, "Other", "1");
        win.RemoveRegistryValue(kVersionKey, "ReleaseId");
        break;
      case Value::KeyMissing: win.RemoveRegistryKey(kVersionKey); break;
    }
    EXPECT_EQ(RunGate(win, HeaderWith(kAll, c.minRelease, c.maxRelease), 10, 0), c.shown);

    EXPECT_EQ(win.CountEvents("RegOpenKeyExA"), 1u);
    EXPECT_EQ(win.CountEvents(std::string("RegOpenKeyExA ") + kVersionKey + " 0x20019"), 1u) << "KEY_READ alone";
    const bool opened = c.value != Value::KeyMissing;
    EXPECT_EQ(win.CountEvents("RegQueryValueExA ReleaseId"), opened ? 1u : 0u);
    // The key is closed on every road that passes, left open on a refusal.
    EXPECT_EQ(win.CountEvents("RegCloseKey"), opened && c.shown.empty() ? 1u : 0u);
  }
}

TEST(CheckReleaseId, NamesEveryKnownRelease) {
  const struct {
    const char* release;
    const char* name;
  } cases[] = {
      {"1507", "Windows 10 1507 (Original Release)"},    {"1511", "Windows 10 1511 (November Update)"},
      {"1607", "Windows 10 1607 (Anniversary Update)"},  {"1703", "Windows 10 1703 (Creators Update)"},
      {"1709", "Windows 10 1709 (Fall Creators Update)"}, {"1803", "Windows 10 1803 (April 2018 Update)"},
      {"1809", "Windows 10 1809 (October 2018 Update)"}, {"1909", "Windows 10 1909"},
      {"2004", "Windows 10 2004"},                        {"01809", "Windows 10 1809 (October 2018 Update)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.release);
    sim::SimulatedWindows win;
    win.SetReleaseId(c.release);
    EXPECT_EQ(RunGate(win, HeaderWith(kAll, 9000, 9999), 10, 0), c.name);
  }
}

TEST(CheckReleaseId, RegistryIsReadOnlyForWindows10WithItsElement) {
  const struct {
    const char* what;
    uint64_t supported;
    uint32_t major, minor;
    const char* shown;
  } cases[] = {
      {"Windows10 absent", AllBut(loader::Windows10), 10, 0, "Windows 10"},
      {"10.1", kAll, 10, 1, ""},
      {"6.3", kAll, 6, 3, ""},
      {"11.0", kAll, 11, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimulatedWindows win;
    win.SetReleaseId("1000");
    EXPECT_EQ(RunGate(win, HeaderWith(c.supported, 2000, 3000), c.major, c.minor), c.shown);
    EXPECT_EQ(win.CountEvents("RegOpenKeyExA"), 0u);
    EXPECT_EQ(win.CountEvents("RegQueryValueExA"), 0u);
  }
}

}  // namespace
