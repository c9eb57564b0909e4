// Whole runs that meet memory the heap refuses: the checksum range's buffer,
// a stream's block, the decoder's window and every smaller allocation. Each
// ends the process quietly with exit code 0: no message box (none of the
// loader's texts speaks of memory), no start, no use of a block it did not
// get. A checksum range the file cannot hold is PackageDamaged whatever the
// heap holds.
#include <gtest/gtest.h>
#include <stdio.h>

#include <functional>
#include <string>

#include "package/StubTypes.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"
#include "tests/support/Packages.h"

namespace {

using packagewriter::BuiltPackage;

// A package whose 64-bit build is big enough for blocks of its own size to
// stand out: 1 MiB of program, 2 MiB of dictionary.
BuiltPackage LargePackage() {
  packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
  inputs.setup64 = fixtures::SetupProgram(1u << 20, 64);
  inputs.lzma.preset = 1;
  inputs.lzma.dictionarySize = 2u << 20;
  return packagewriter::BuildPackage(inputs);
}

const BuiltPackage& Large() {
  static const BuiltPackage package = LargePackage();
  return package;
}

// The size the last heap request asked for, when the process ended right
// after it; 0 otherwise.
unsigned long long RefusedRequest(const sim::SimulatedWindows& win) {
  const size_t count = win.events.size();
  if (count < 2 || win.events[count - 1] != "ExitProcess 0") return 0;
  unsigned long long old = 0, size = 0;
  const char* last = win.events[count - 2].c_str();
  if (sscanf(last, "HeapReAlloc %llu %llu", &old, &size) == 2) return size;
  if (sscanf(last, "HeapAlloc %llu", &size) == 1) return size;
  return 0;
}

void ExpectQuietEnd(const sim::SimulatedWindows& win, const sim::ProcessResult& result) {
  EXPECT_TRUE(result.exitProcessCalled);
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(win.messageBoxes.empty());
  EXPECT_TRUE(win.launches.empty());
  EXPECT_NE(RefusedRequest(win), 0u) << "the process ends right after the refused request";
}

// The blocks of one run, each larger than the heap that the row leaves.
TEST(MemoryExhaustion, EachLargeBlockTheHeapRefusesEndsTheRunQuietly) {
  const uint32_t range = Large().locator.ChecksumLength();
  const loader::PayloadDescriptor payload = Large().header.Payload64();
  const auto rounded = [](uint32_t size) { return (size + 0x1FFFFull) & ~0x1FFFFull; };
  const struct {
    const char* shows;
    std::function<void(BuiltPackage&)> change;
    size_t heapLimit;
    unsigned long long refused;  // the request that is refused
    size_t reads;                // ReadFile calls made before the end
  } rows[] = {
      {"the checksum range's buffer", [](BuiltPackage&) {}, range - 1, range, 1},
      {"the input stream's block", [](BuiltPackage&) {}, rounded(payload.CompressedSize) - 1,
       rounded(payload.CompressedSize), 3},
      {"a window of 2 GiB for a dictionary of 0x7FFFFFFF (a 32-bit process has no room for it)",
       [](BuiltPackage& p) {
         loader::WriteLittle32(p.header.Bytes + 1, 0x7FFFFFFF);
         packagewriter::Rewrite(p);
       },
       0x70000000, 0x80000000ull, 4},
      {"the output stream's block, after the window",
       [](BuiltPackage&) {}, rounded(payload.CompressedSize) + (3u << 20), rounded(payload.DecompressedSize), 4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shows);
    BuiltPackage package = Large();
    row.change(package);
    sim::SimulatedWindows win;
    win.wow64 = true;
    fixtures::InstallLoader(win, package);
    win.heapLimit = row.heapLimit;

    const sim::ProcessResult result = sim::RunLoaderProcess();
    ExpectQuietEnd(win, result);
    EXPECT_EQ(RefusedRequest(win), row.refused);
    EXPECT_EQ(win.CountEvents("ReadFile"), row.reads);
    EXPECT_EQ(win.CountEvents("CreateFileA write"), 0u);
  }
}

// Every allocation of a whole run, refused in turn: the run ends right there,
// quietly, never with a message and never with a start.
TEST(MemoryExhaustion, EveryAllocationOfAWholeRunTheHeapRefusesEndsItQuietly) {
  for (const bool shellRoad : {false, true}) {
    SCOPED_TRACE(shellRoad ? "shell road" : "direct road");
    size_t allocations = 0;
    {
      sim::SimulatedWindows win;
      fixtures::InstallLoader(win, packagewriter::BuildPackage(fixtures::DefaultSpec()));
      win.SetArguments("/S \"two words\"");
      win.administrator = !shellRoad;
      ASSERT_EQ(sim::RunLoaderProcess().exitCode, 0u);
      ASSERT_EQ(win.launches.size(), 1u);
      allocations = win.CountEvents("HeapAlloc") + win.CountEvents("HeapReAlloc");
      ASSERT_GE(allocations, 10u);
    }
    for (size_t n = 1; n <= allocations; ++n) {
      SCOPED_TRACE("allocation " + std::to_string(n));
      sim::SimulatedWindows win;
      fixtures::InstallLoader(win, packagewriter::BuildPackage(fixtures::DefaultSpec()));
      win.SetArguments("/S \"two words\"");
      win.administrator = !shellRoad;
      win.failAllocationNumber = static_cast<int64_t>(n);
      ExpectQuietEnd(win, sim::RunLoaderProcess());
    }
  }
}

// A checksum range longer than what the file holds from HeaderOffset on can
// never be read whole: PackageDamaged, without asking the heap for it, so
// that the answer does not hang on how much memory there is.
TEST(MemoryExhaustion, AChecksumRangeTheFileCannotHoldIsDamagedWhateverTheHeap) {
  const uint32_t lengths[] = {0x7FFF0000u, 0x40000000u};
  for (const uint32_t length : lengths) {
    SCOPED_TRACE(length);
    BuiltPackage package = packagewriter::BuildPackage(fixtures::DefaultSpec());
    loader::WriteLittle32(package.locator.Bytes + 4, length);
    packagewriter::Rewrite(package, false);
    sim::SimulatedWindows win;
    fixtures::InstallLoader(win, package);
    win.heapLimit = 64u << 20;

    const sim::ProcessResult result = sim::RunLoaderProcess();
    EXPECT_EQ(result.exitCode, 0u);
    ASSERT_EQ(win.messageBoxes.size(), 1u);
    EXPECT_EQ(win.messageBoxes[0].text, loader::FatalErrorText(loader::FatalError::PackageDamaged));
    EXPECT_EQ(win.CountEvents("HeapAlloc " + std::to_string(length)), 0u);
  }
}

}  // namespace
