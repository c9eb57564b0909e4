// The package spine: the CRC-32, the locator check with its size test, the
// header read, and the whole run's fatal errors when the loader's own file
// cannot be used. None of these writes anything to disk.
#include <gtest/gtest.h>

#include <stdint.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "package/CRC32.h"
#include "package/CheckPackage.h"
#include "package/PackageHeader.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"
#include "tests/support/Packages.h"
#include "tools/package-writer/PackageWriter.h"

namespace {

using packagewriter::Bytes;
using packagewriter::BuiltPackage;

const char kDamaged[] =
    "An error occurred while trying to read the setup package.  It has most likely been damaged.  Please obtain a "
    "new copy from the vendor.";
const char kTruncated[] =
    "The setup package has been truncated.  You most likely have an incomplete download.  Try downloading it again.";
const char kTempCopyFailed[] =
    "An error occurred while trying to create a temporary copy of the setup package.  Please make sure that you "
    "have sufficient access rights to this computer to install software and that the Windows TEMP folder can be "
    "written to.  You can make this installer use a different folder for its temporary files using the /temp "
    "command line parameter followed by the path to a folder you can write to and run applications from.";
const char kLaunchFailed[] =
    "The temporary copy of the setup package could not be executed.  Your system may have a software restriction "
    "policy in place that blocks executables in the temporary files folder.  You can make this installer use a "
    "different folder for its temporary files using the /temp command line parameter followed by the path to a "
    "folder you can write to and run applications from.";

// Locator fields, as offsets into the file.
constexpr size_t kHeaderOffset = 128;
constexpr size_t kChecksumLength = 132;
constexpr size_t kChecksum = 136;
constexpr size_t kExpectedSizeLow = 140;
constexpr size_t kExpectedSizeHigh = 144;
constexpr size_t kDetachedFileSize = 148;

void Put32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}
uint32_t Get32(const Bytes& bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | (static_cast<uint32_t>(bytes[at + 1]) << 8) |
         (static_cast<uint32_t>(bytes[at + 2]) << 16) | (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// The CRC-32 computed bit by bit, apart from the loader's table.
uint32_t CrcStep(uint32_t state, uint8_t byte) {
  state ^= byte;
  for (int bit = 0; bit < 8; ++bit) state = (state & 1) ? (state >> 1) ^ 0xEDB88320u : state >> 1;
  return state;
}
uint32_t ReferenceCrc(const Bytes& bytes, size_t start, size_t length) {
  uint32_t state = 0xFFFFFFFFu;
  for (size_t i = start; i < start + length; ++i) state = CrcStep(state, bytes[i]);
  return state ^ 0xFFFFFFFFu;
}

// Sets the four bytes before `end` so that the range [start, end) has the
// CRC-32 `target`. Each step's top byte names the table entry it used, so
// the four entries can be found backwards from the final register and the
// bytes that select them forwards.
void ForceCrc(Bytes& bytes, size_t start, size_t end, uint32_t target) {
  uint32_t state = 0xFFFFFFFFu;
  for (size_t i = start; i < end - 4; ++i) state = CrcStep(state, bytes[i]);
  uint8_t entries[4];
  uint32_t want = target ^ 0xFFFFFFFFu;
  for (int k = 3; k >= 0; --k) {
    for (uint32_t i = 0; i < 256; ++i) {
      if ((CrcStep(i, 0) >> 24) == (want >> 24)) {
        entries[k] = static_cast<uint8_t>(i);
        want = (want ^ CrcStep(i, 0)) << 8;
        break;
      }
    }
  }
  for (int k = 0; k < 4; ++k) {
    bytes[end - 4 + k] = static_cast<uint8_t>(entries[k] ^ (state & 0xFF));
    state = CrcStep(state, bytes[end - 4 + k]);
  }
}

// The package the rows start from: both builds, data inside and outside the
// checksum range, and a signature after the package.
const BuiltPackage& BasePackage() {
  static const BuiltPackage package = [] {
    packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
    inputs.extraInside = Bytes(40, 0x11);
    inputs.extraOutside = Bytes(64, 0x22);
    inputs.trailing = Bytes(100, 0x33);
    return packagewriter::BuildPackage(inputs);
  }();
  return package;
}

enum class Outcome { Passes, Damaged, Truncated };

struct CheckRun {
  sim::ProcessResult process{};
  bool returned = false;
  loader::PackageLocator locator{};
  loader::PackageHeader header{};
};

// Runs CheckPackage (and, with `readHeader`, ReadPackageHeader) on the
// loader's own file as the run does.
CheckRun Check(sim::SimulatedWindows& win, bool readHeader = false) {
  CheckRun run;
  run.process = sim::RunProcess([&] {
    platform::Handle file = platform::OpenFileForReading(win.modulePath.c_str());
    run.locator = loader::CheckPackage(file);
    if (readHeader) run.header = loader::ReadPackageHeader(file, run.locator);
    run.returned = true;
  });
  return run;
}

// The run ended with exactly one error box showing `text`, captioned with
// the loader's path, with exit code 0 and nothing written.
void ExpectFatal(const sim::SimulatedWindows& win, const CheckRun& run, const char* text) {
  EXPECT_FALSE(run.returned);
  EXPECT_TRUE(run.process.exitProcessCalled);
  EXPECT_EQ(run.process.exitCode, 0u);
  ASSERT_EQ(win.messageBoxes.size(), 1u);
  EXPECT_EQ(win.messageBoxes[0].text, text);
  EXPECT_EQ(win.messageBoxes[0].caption, win.modulePath);
  EXPECT_EQ(win.messageBoxes[0].style, 0x10u);
}

void ExpectNothingWritten(const sim::SimulatedWindows& win) {
  EXPECT_EQ(win.Files(), std::vector<std::string>{win.modulePath});
  EXPECT_EQ(win.CountEvents("CreateFileA write"), 0u);
  EXPECT_EQ(win.CountEvents("WriteFile"), 0u);
}

// ---- CRC-32 --------------------------------------------------------------------

TEST(Crc32, KnownValuesAndEmptyOrNegativeLengths) {
  const std::string digits = "123456789";
  const std::string fox = "The quick brown fox jumps over the lazy dog";
  Bytes everyByte(256);
  for (int i = 0; i < 256; ++i) everyByte[i] = static_cast<uint8_t>(i);
  const auto crc = [](const std::string& text, int32_t length) {
    return loader::Crc32(reinterpret_cast<const uint8_t*>(text.data()), length);
  };
  EXPECT_EQ(crc(digits, 9), 0xCBF43926u);  // the check value
  EXPECT_EQ(crc(fox, static_cast<int32_t>(fox.size())), 0x414FA339u);
  EXPECT_EQ(loader::Crc32(everyByte.data(), 256), 0x29058C73u);  // every table entry used
  EXPECT_EQ(crc(digits, 0), 0u);
  EXPECT_EQ(crc(digits, -1), 0u);
  EXPECT_EQ(crc(digits, INT32_MIN), 0u);
}

// ---- The locator check ------------------------------------------------------------

struct LocatorRow {
  const char* shows;
  std::function<void(Bytes&)> edit;                                  // on a copy of the base package
  std::function<void(sim::SimulatedWindows&, const Bytes&)> machine;  // after it is installed
  Outcome outcome;
};

uint32_t Size(const Bytes& bytes) { return static_cast<uint32_t>(bytes.size()); }

// The loader's file reported 4 GiB longer than its bytes.
void FourGiBMore(sim::SimulatedWindows& win, const Bytes& bytes) {
  win.SetReportedFileSize(win.modulePath, (1ull << 32) + bytes.size());
}

// The base package with the checksum field fitted to the range the locator names.
void FitChecksum(Bytes& bytes) {
  const uint32_t length = Get32(bytes, kChecksumLength);
  Put32(bytes, kChecksum, ReferenceCrc(bytes, Get32(bytes, kHeaderOffset), length));
}

const std::vector<LocatorRow>& LocatorRows() {
  static const std::vector<LocatorRow> rows = {
      {"the package as built, a signature after it", nullptr, nullptr, Outcome::Passes},
      {"no package: locator all zero", [](Bytes& b) { std::fill(b.begin() + 128, b.begin() + 152, 0); }, nullptr,
       Outcome::Damaged},
      {"file of 151 bytes: the locator cannot be read whole", [](Bytes& b) { b.resize(151); }, nullptr,
       Outcome::Damaged},
      {"HeaderOffset 0, even with a checksum that fits the bytes from offset 0",
       [](Bytes& b) {
         Put32(b, kHeaderOffset, 0);
         FitChecksum(b);
       },
       nullptr, Outcome::Damaged},
      {"DetachedFileSize one above the file size",
       [](Bytes& b) { Put32(b, kDetachedFileSize, Size(b) + 1); }, nullptr, Outcome::Truncated},
      {"DetachedFileSize equal to the file size", [](Bytes& b) { Put32(b, kDetachedFileSize, Size(b)); }, nullptr,
       Outcome::Passes},
      {"DetachedFileSize set: ExpectedSizeLow and ExpectedSizeHigh are not consulted",
       [](Bytes& b) {
         Put32(b, kDetachedFileSize, 1000);
         Put32(b, kExpectedSizeHigh, 7);
       },
       nullptr, Outcome::Passes},
      {"file one byte shorter than the minimum size",
       [](Bytes& b) { Put32(b, kExpectedSizeLow, Size(b) + 1); }, nullptr, Outcome::Truncated},
      {"minimum size of 4 GiB: ExpectedSizeHigh 1", [](Bytes& b) { Put32(b, kExpectedSizeHigh, 1); }, nullptr,
       Outcome::Truncated},
      {"ExpectedSizeHigh 0x80000000: a negative minimum that every file meets",
       [](Bytes& b) {
         Put32(b, kExpectedSizeLow, 0xFFFFFFFFu);
         Put32(b, kExpectedSizeHigh, 0x80000000u);
       },
       nullptr, Outcome::Passes},
      {"ExpectedSizeHigh 0xFFFFFFFF: negative as well",
       [](Bytes& b) {
         Put32(b, kExpectedSizeLow, 0xFFFFFFFFu);
         Put32(b, kExpectedSizeHigh, 0xFFFFFFFFu);
       },
       nullptr, Outcome::Passes},
      {"a 4 GiB file meets a minimum above its low 32 bits through its high part",
       [](Bytes& b) { Put32(b, kExpectedSizeLow, Size(b) + 1); },
       FourGiBMore,
       Outcome::Passes},
      {"a 4 GiB file is judged by its low 32 bits against DetachedFileSize",
       [](Bytes& b) { Put32(b, kDetachedFileSize, Size(b) + 1); },
       FourGiBMore,
       Outcome::Truncated},
      {"ChecksumLength 2^31", [](Bytes& b) { Put32(b, kChecksumLength, 0x80000000u); }, nullptr, Outcome::Damaged},
      {"ChecksumLength 0xFFFFFFFF", [](Bytes& b) { Put32(b, kChecksumLength, 0xFFFFFFFFu); }, nullptr,
       Outcome::Damaged},
      {"HeaderOffset 2^31: unreachable, refused outright even when the bytes where a failed move leaves the "
       "position would match",
       [](Bytes& b) {
         Put32(b, kHeaderOffset, 0x80000000u);
         Put32(b, kChecksum, ReferenceCrc(b, 152, Get32(b, kChecksumLength)));
       },
       nullptr, Outcome::Damaged},
      {"checksum range one byte beyond the end of the file",
       [](Bytes& b) {
         Put32(b, kChecksumLength, Size(b) - Get32(b, kHeaderOffset) + 1);
         Put32(b, kChecksum, ReferenceCrc(b, Get32(b, kHeaderOffset), Size(b) - Get32(b, kHeaderOffset)));
       },
       nullptr, Outcome::Damaged},
      {"checksum range one byte beyond the end, with a Checksum that the unread byte would make fit",
       [](Bytes& b) {
         const uint32_t available = Size(b) - Get32(b, kHeaderOffset);
         Put32(b, kChecksumLength, available + 1);
         Bytes range(b.begin() + Get32(b, kHeaderOffset), b.end());
         range.push_back(sim::kFreshHeapByte);  // what the buffer holds where nothing was read
         Put32(b, kChecksum, ReferenceCrc(range, 0, range.size()));
       },
       nullptr, Outcome::Damaged},
      {"checksum range up to the last byte of the file",
       [](Bytes& b) {
         Put32(b, kChecksumLength, Size(b) - Get32(b, kHeaderOffset));
         FitChecksum(b);
       },
       nullptr, Outcome::Passes},
      {"Checksum differs", [](Bytes& b) { Put32(b, kChecksum, Get32(b, kChecksum) ^ 0x80000000u); }, nullptr,
       Outcome::Damaged},
      {"first byte of the range (the header's) changed", [](Bytes& b) { b[Get32(b, kHeaderOffset)] ^= 0x01; },
       nullptr, Outcome::Damaged},
      {"last byte of the range changed",
       [](Bytes& b) { b[Get32(b, kHeaderOffset) + Get32(b, kChecksumLength) - 1] ^= 0x40; }, nullptr,
       Outcome::Damaged},
      {"package byte right after the range changed: not noticed",
       [](Bytes& b) { b[Get32(b, kHeaderOffset) + Get32(b, kChecksumLength)] ^= 0xFF; }, nullptr, Outcome::Passes},
      {"ChecksumLength 0 and Checksum 0: an empty range",
       [](Bytes& b) {
         Put32(b, kChecksumLength, 0);
         Put32(b, kChecksum, 0);
       },
       nullptr, Outcome::Passes},
      {"ChecksumLength 0 and Checksum 1",
       [](Bytes& b) {
         Put32(b, kChecksumLength, 0);
         Put32(b, kChecksum, 1);
       },
       nullptr, Outcome::Damaged},
  };
  return rows;
}

TEST(CheckPackage, LocatorTable) {
  for (const LocatorRow& row : LocatorRows()) {
    SCOPED_TRACE(row.shows);
    Bytes bytes = BasePackage().bytes;
    if (row.edit) row.edit(bytes);
    sim::SimulatedWindows win;
    win.AddFile(win.modulePath, bytes);
    if (row.machine) row.machine(win, bytes);

    const CheckRun run = Check(win);
    ExpectNothingWritten(win);
    switch (row.outcome) {
      case Outcome::Passes:
        EXPECT_TRUE(run.returned);
        EXPECT_TRUE(win.messageBoxes.empty());
        EXPECT_EQ(Bytes(run.locator.Bytes, run.locator.Bytes + 24), Bytes(bytes.begin() + 128, bytes.begin() + 152));
        break;
      case Outcome::Damaged:
        ExpectFatal(win, run, kDamaged);
        break;
      case Outcome::Truncated:
        ExpectFatal(win, run, kTruncated);
        // The size test comes before any read of the package itself.
        EXPECT_EQ(win.CountEvents("ReadFile"), 1u);
        break;
    }
  }
}

// A download cut anywhere after the locator is "truncated", never "damaged",
// even when the cut lies after the checksum range and every byte it covers
// is there.
TEST(CheckPackage, ACutAfterTheLocatorIsTruncatedBeforeAnyReadOfThePackage) {
  const BuiltPackage& package = BasePackage();
  const uint32_t header = package.locator.HeaderOffset();
  const struct {
    const char* shows;
    uint32_t length;
  } cuts[] = {
      {"right after the locator", 152},
      {"right before the header", header},
      {"inside the header", header + 35},
      {"inside the checksum range", package.checksumRangeEnd - 1},
      {"right after the checksum range", package.checksumRangeEnd},
      {"one byte before the package's end", package.packageEnd - 1},
  };
  ASSERT_LT(package.checksumRangeEnd, package.packageEnd);
  for (const auto& cut : cuts) {
    SCOPED_TRACE(cut.shows);
    sim::SimulatedWindows win;
    win.AddFile(win.modulePath, Bytes(package.bytes.begin(), package.bytes.begin() + cut.length));
    const CheckRun run = Check(win);
    ExpectFatal(win, run, kTruncated);
    EXPECT_EQ(win.CountEvents("ReadFile"), 1u);
    EXPECT_EQ(win.CountEvents("ReadFile 24"), 1u);
    ExpectNothingWritten(win);
  }
}

// ---- The example loader file -----------------------------------------------------

const uint8_t kExampleLocator[24] = {0x00, 0x0C, 0x03, 0x00, 0x77, 0xBD, 0x14, 0x00, 0xB6, 0xD3, 0xA3, 0x74,
                                     0x4D, 0x70, 0x6A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

// Header bytes 0 to 45 and 58 to 69 as the example gives them; 46 to 57 are
// not shown and stay zero.
loader::PackageHeader ExampleHeader() {
  const uint8_t head[46] = {0x5D, 0x00, 0x00, 0x40, 0x00, 0xE0, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0x80, 0xE3, 0x05, 0x0F, 0x27, 0x01, 0x46, 0x0C, 0x03, 0x00, 0x92, 0xBD,
                            0x07, 0x00, 0x30, 0xA2, 0x17, 0x00, 0xD8, 0xC9, 0x0A, 0x00, 0x01, 0x2B,
                            0x0C, 0x00, 0x30, 0x90, 0x2F, 0x00, 0x05, 0xFA, 0x16, 0x00};
  const uint8_t tail[12] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xBF, 0xF6, 0x16, 0x00, 0xA3, 0x01};
  loader::PackageHeader header = {};
  std::copy(head, head + 46, header.Bytes);
  std::copy(tail, tail + 12, header.Bytes + 58);
  return header;
}

// The example loader file, 6,992,000 bytes: a 199,680-byte image, a package
// whose checksum range is 1,359,223 bytes long and which ends before offset
// 6,975,565, then three zero bytes and a 16,432-byte signature. The header is
// the example's, and the range's last four bytes are chosen so that its
// CRC-32 is the example's 0x74A3D3B6: the locator bytes come out exactly as
// in the example.
Bytes ExampleFile() {
  constexpr uint32_t kImageSize = 199680, kRangeLength = 1359223, kPackageEnd = 6975565;
  packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
  inputs.stub = packagewriter::MinimalStub(kImageSize);
  const BuiltPackage bare = packagewriter::BuildPackage(inputs);
  inputs.extraInside = Bytes(kRangeLength - (bare.checksumRangeEnd - kImageSize), 0x5A);
  inputs.extraOutside = Bytes(kPackageEnd - kImageSize - kRangeLength, 0xA5);
  inputs.trailing = Bytes(3, 0);
  for (uint32_t i = 0; i < 16432; ++i) inputs.trailing.push_back(static_cast<uint8_t>(i * 7));
  BuiltPackage package = packagewriter::BuildPackage(inputs);
  EXPECT_EQ(package.locator.HeaderOffset(), kImageSize);
  EXPECT_EQ(package.checksumRangeEnd, kImageSize + kRangeLength);
  EXPECT_EQ(package.packageEnd, kPackageEnd);

  const loader::PackageHeader header = ExampleHeader();
  std::copy(header.Bytes, header.Bytes + 70, package.bytes.begin() + kImageSize);
  ForceCrc(package.bytes, kImageSize, kImageSize + kRangeLength, 0x74A3D3B6u);
  EXPECT_EQ(ReferenceCrc(package.bytes, kImageSize, kRangeLength), 0x74A3D3B6u);
  std::copy(kExampleLocator, kExampleLocator + 24, package.bytes.begin() + 128);
  return package.bytes;
}

TEST(CheckPackage, ExampleLocatorDecodesAndItsFilePasses) {
  loader::PackageLocator example;
  std::copy(kExampleLocator, kExampleLocator + 24, example.Bytes);
  EXPECT_EQ(example.HeaderOffset(), 199680u);
  EXPECT_EQ(example.ChecksumLength(), 1359223u);
  EXPECT_EQ(example.Checksum(), 0x74A3D3B6u);
  EXPECT_EQ(example.ExpectedSizeLow(), 6975565u);
  EXPECT_EQ(example.ExpectedSizeHigh(), 0u);
  EXPECT_EQ(example.DetachedFileSize(), 0u);

  sim::SimulatedWindows win;
  const Bytes file = ExampleFile();
  ASSERT_EQ(file.size(), 6992000u);
  win.AddFile(win.modulePath, file);
  const CheckRun run = Check(win, true);
  ASSERT_TRUE(run.returned);
  EXPECT_TRUE(win.messageBoxes.empty());
  EXPECT_EQ(Bytes(run.locator.Bytes, run.locator.Bytes + 24), Bytes(kExampleLocator, kExampleLocator + 24));
  // One read of the whole range, in one block.
  EXPECT_EQ(win.CountEvents("ReadFile 1359223"), 1u);
  EXPECT_EQ(win.CountEvents("HeapAlloc 1359223"), 1u);
  EXPECT_EQ(win.heapInUse, 0u) << "the range's buffer is freed before the header is read";
  ExpectNothingWritten(win);

  // The header read at HeaderOffset decodes to the example's table.
  const loader::PackageHeader& h = run.header;
  EXPECT_EQ(h.LzmaPropertiesByte(), 0x5D);  // lc 3, lp 0, pb 2: (2 * 5 + 0) * 9 + 3
  EXPECT_EQ(h.LzmaDictionarySize(), 4194304u);
  for (unsigned element = 0; element < 64; ++element) {
    const bool expected = (element >= loader::WindowsXP && element <= loader::Windows10) || element == 63;
    EXPECT_EQ(h.Supports(element), expected) << "element " << element;
  }
  EXPECT_EQ(h.MinReleaseId(), 1507);
  EXPECT_EQ(h.MaxReleaseId(), 9999);
  EXPECT_EQ(h.ElevationMode(), 1);
  EXPECT_EQ(h.Payload32().FileOffset, 199750u);
  EXPECT_EQ(h.Payload32().CompressedSize, 507282u);
  EXPECT_EQ(h.Payload32().DecompressedSize, 1548848u);
  EXPECT_EQ(h.Payload64().FileOffset, 707032u);
  EXPECT_EQ(h.Payload64().CompressedSize, 797441u);
  EXPECT_EQ(h.Payload64().DecompressedSize, 3117104u);
  EXPECT_EQ(loader::ReadLittle32(h.Bytes + 42), 1505797u);
  EXPECT_EQ(h.ArchitectureMessage().Offset, 0u);
  EXPECT_EQ(h.ArchitectureMessage().Length, 0);
  EXPECT_EQ(h.SystemMessage().Offset, 1504959u);
  EXPECT_EQ(h.SystemMessage().Length, 419);
}

// ---- The header read -------------------------------------------------------------

TEST(ReadPackageHeader, FieldsAreTakenAsStored) {
  packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
  inputs.supportedSystems = ~0ull;  // elements 11 to 62 present too
  inputs.elevationMode = 7;
  const BuiltPackage package = packagewriter::BuildPackage(inputs);
  sim::SimulatedWindows win;
  win.AddFile(win.modulePath, package.bytes);
  const CheckRun run = Check(win, true);
  ASSERT_TRUE(run.returned);
  EXPECT_TRUE(win.messageBoxes.empty());
  EXPECT_EQ(Bytes(run.header.Bytes, run.header.Bytes + 70), Bytes(package.header.Bytes, package.header.Bytes + 70));
  EXPECT_EQ(run.header.ElevationMode(), 7);
  for (unsigned element = 11; element <= 62; ++element) EXPECT_TRUE(run.header.Supports(element)) << element;
}

// The checksum range may be shorter than the header; the header is then read
// as it stands, or, when the file ends inside it, the run ends as damaged.
TEST(ReadPackageHeader, AHeaderPastTheEndOfTheFileIsDamaged) {
  const struct {
    const char* shows;
    uint32_t bytesFromHeaderToEnd;
    bool returns;
  } rows[] = {
      {"header whole, checksum range of 10 bytes", 70, true},
      {"file ends 30 bytes into the header", 30, false},
      {"file ends one byte short of the header's end", 69, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shows);
    Bytes bytes = BasePackage().bytes;
    const uint32_t headerOffset = Size(bytes) - row.bytesFromHeaderToEnd;
    Put32(bytes, kHeaderOffset, headerOffset);
    Put32(bytes, kChecksumLength, 10);
    Put32(bytes, kExpectedSizeLow, Size(bytes));
    FitChecksum(bytes);
    sim::SimulatedWindows win;
    win.AddFile(win.modulePath, bytes);

    const CheckRun run = Check(win, true);
    ExpectNothingWritten(win);
    if (row.returns) {
      EXPECT_TRUE(run.returned);
      EXPECT_EQ(Bytes(run.header.Bytes, run.header.Bytes + 70), Bytes(bytes.begin() + headerOffset, bytes.end()));
    } else {
      ExpectFatal(win, run, kDamaged);
      EXPECT_EQ(win.CountEvents("ReadFile 70"), 1u) << "CheckPackage let the file pass";
    }
  }
}

// ---- The whole run ----------------------------------------------------------------

TEST(FatalErrors, EachTextExactlyInABoxCaptionedWithTheLoadersPath) {
  const struct {
    loader::FatalError error;
    const char* text;
  } rows[] = {
      {loader::FatalError::PackageDamaged, kDamaged},
      {loader::FatalError::PackageTruncated, kTruncated},
      {loader::FatalError::TempCopyFailed, kTempCopyFailed},
      {loader::FatalError::LaunchFailed, kLaunchFailed},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.text);
    sim::SimulatedWindows win;
    win.modulePath = "E:\\Some Folder\\My Setup.exe";
    const sim::ProcessResult result = sim::RunProcess([&] { loader::ShowFatalError(row.error); });
    EXPECT_TRUE(result.exitProcessCalled);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_EQ(win.messageBoxes.size(), 1u);
    EXPECT_EQ(win.messageBoxes[0].text, row.text);
    EXPECT_EQ(win.messageBoxes[0].caption, "E:\\Some Folder\\My Setup.exe");
    EXPECT_EQ(win.messageBoxes[0].style, 0x10u);
    EXPECT_EQ(win.events.back(), "ExitProcess 0");
  }
}

TEST(RunLoader, AnUnusableLoaderFileEndsTheRunBeforeAnythingElse) {
  const struct {
    const char* shows;
    std::function<void(sim::SimulatedWindows&)> machine;
    const char* text;
    size_t reads;  // ReadFile calls before the end
  } rows[] = {
      {"the loader's file held open for writing elsewhere",
       [](sim::SimulatedWindows& win) {
         win.AddFile(win.modulePath, BasePackage().bytes);
         win.openFails = true;
       },
       kDamaged, 0},
      {"a loader image without a package",
       [](sim::SimulatedWindows& win) { win.AddFile(win.modulePath, packagewriter::MinimalStub()); }, kDamaged, 1},
      {"a download cut inside the package",
       [](sim::SimulatedWindows& win) {
         const Bytes& bytes = BasePackage().bytes;
         win.AddFile(win.modulePath, Bytes(bytes.begin(), bytes.begin() + 2000));
       },
       kTruncated, 1},
      {"a changed byte in the checksum range",
       [](sim::SimulatedWindows& win) {
         Bytes bytes = BasePackage().bytes;
         bytes[BasePackage().locator.HeaderOffset() + 100] ^= 0x08;
         win.AddFile(win.modulePath, bytes);
       },
       kDamaged, 2},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    win.modulePath = "D:\\Setup Files\\product-setup.exe";
    row.machine(win);

    const sim::ProcessResult result = sim::RunLoaderProcess();
    EXPECT_TRUE(result.exitProcessCalled);
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_EQ(win.messageBoxes.size(), 1u);
    EXPECT_EQ(win.messageBoxes[0].text, row.text);
    EXPECT_EQ(win.messageBoxes[0].caption, "D:\\Setup Files\\product-setup.exe");
    EXPECT_EQ(win.messageBoxes[0].style, 0x10u);
    EXPECT_EQ(win.CountEvents("ReadFile"), row.reads);
    EXPECT_EQ(win.CountEvents("GetVersionExA"), 0u) << "the run went no further";
    EXPECT_TRUE(win.launches.empty());
    ExpectNothingWritten(win);
  }
}

}  // namespace
