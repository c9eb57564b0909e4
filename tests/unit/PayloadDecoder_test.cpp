// DecodePayload: one read into the input stream, raw LZMA1 decoding straight
// into the output stream's block, and every way the result can fail to be
// exactly the declared size.
#include <gtest/gtest.h>
#include <lzma.h>
#include <stdint.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "extract/PayloadDecoder.h"
#include "platform/simulated/SimulatedWindows.h"
#include "run/StubCore.h"
#include "tests/support/Packages.h"
#include "tools/package-writer/PackageWriter.h"

namespace {

using packagewriter::Bytes;

const char kLoader[] = "C:\\Downloads\\setup.exe";

// One payload in the loader's file: `before`, the compressed stream, `after`;
// the header's properties and the descriptor as the rows set them.
struct Payload {
  Bytes program;
  Bytes stream;
  Bytes before = Bytes(200, 0xEE);
  Bytes after;
  uint8_t propertiesByte = 0;
  uint32_t dictionary = 0;
  uint32_t fileOffset = 0;
  uint32_t compressedSize = 0;
  uint32_t decompressedSize = 0;
};

Payload MakePayload(size_t programSize, packagewriter::LzmaSettings settings = {}) {
  Payload p;
  p.program = fixtures::SetupProgram(programSize, 7);
  p.stream = packagewriter::CompressRaw(p.program, settings);
  p.propertiesByte = packagewriter::PropertiesByte(settings);
  p.dictionary = settings.dictionarySize;
  p.fileOffset = static_cast<uint32_t>(p.before.size());
  p.compressedSize = static_cast<uint32_t>(p.stream.size());
  p.decompressedSize = static_cast<uint32_t>(p.program.size());
  return p;
}

struct Outcome {
  sim::ProcessResult process{};
  bool returned = false;
  Bytes input;
  Bytes output;
  int32_t inputPosition = -1;
  int32_t outputPosition = -1;
  int32_t outputCapacity = -1;
};

// Puts the payload in the loader's file and runs DecodePayload on it as the
// run does: the loader's file open, then the two streams released output
// first.
Outcome Decode(sim::SimulatedWindows& win, const Payload& p) {
  Bytes file = p.before;
  file.insert(file.end(), p.stream.begin(), p.stream.end());
  file.insert(file.end(), p.after.begin(), p.after.end());
  win.AddFile(kLoader, file);

  loader::PackageHeader header = {};
  header.Bytes[0] = p.propertiesByte;
  loader::WriteLittle32(header.Bytes + 1, p.dictionary);
  const loader::PayloadDescriptor descriptor = {p.fileOffset, p.compressedSize, p.decompressedSize};

  Outcome o;
  o.process = sim::RunProcess([&] {
    platform::Handle handle = platform::OpenFileForReading(kLoader);
    loader::DecodedPayload decoded = loader::DecodePayload(handle, header, descriptor);
    o.returned = true;
    o.input.assign(decoded.Input->Memory, decoded.Input->Memory + decoded.Input->Size);
    o.output.assign(decoded.Output->Memory, decoded.Output->Memory + decoded.Output->Size);
    o.inputPosition = decoded.Input->Position;
    o.outputPosition = decoded.Output->Position;
    o.outputCapacity = decoded.Output->Capacity;
    delete decoded.Output;
    delete decoded.Input;
    platform::CloseHandle(handle);
  });
  return o;
}

uint32_t RoundUp128K(uint64_t size) { return static_cast<uint32_t>((size + 0x1FFFF) & ~uint64_t{0x1FFFF}); }

// ---- Refused payloads --------------------------------------------------------

struct DamagedRow {
  const char* shows;
  std::function<void(Payload&, sim::SimulatedWindows&)> change;
};

const DamagedRow kDamagedRows[] = {
    {"properties byte 225 (pb 5)", [](Payload& p, sim::SimulatedWindows&) { p.propertiesByte = 225; }},
    {"properties byte 255", [](Payload& p, sim::SimulatedWindows&) { p.propertiesByte = 255; }},
    // Within the loader's bounds, but liblzma takes lc + lp up to 4 only.
    {"lc 8, lp 4, pb 4 (byte 224), refused by liblzma", [](Payload& p, sim::SimulatedWindows&) { p.propertiesByte = 224; }},
    {"lc 4, lp 1 (byte 13), refused by liblzma", [](Payload& p, sim::SimulatedWindows&) { p.propertiesByte = 13; }},
    {"dictionary 0x80000000", [](Payload& p, sim::SimulatedWindows&) { p.dictionary = 0x80000000u; }},
    {"dictionary 0xFFFFFFFF", [](Payload& p, sim::SimulatedWindows&) { p.dictionary = 0xFFFFFFFFu; }},
    {"a short read", [](Payload& p, sim::SimulatedWindows& win) { win.readLimit = p.compressedSize - 1; }},
    {"a payload that reaches past the end of the file",
     [](Payload& p, sim::SimulatedWindows&) { p.compressedSize += 1; }},
    {"a payload that starts past the end of the file",
     [](Payload& p, sim::SimulatedWindows&) { p.fileOffset = 1u << 20; }},
    {"an end marker before the declared size",
     [](Payload& p, sim::SimulatedWindows&) {
       packagewriter::LzmaSettings withMarker;
       withMarker.endMarker = true;
       p.stream = packagewriter::CompressRaw(p.program, withMarker);
       p.compressedSize = static_cast<uint32_t>(p.stream.size());
       p.decompressedSize += 1;
     }},
    {"a declared size larger than the data", [](Payload& p, sim::SimulatedWindows&) { p.decompressedSize += 100; }},
    {"compressed bytes cut short", [](Payload& p, sim::SimulatedWindows&) { p.compressedSize /= 2; }},
    {"no compressed bytes for a program", [](Payload& p, sim::SimulatedWindows&) { p.compressedSize = 0; }},
    {"a corrupt first byte (the range coder's must be 0)",
     [](Payload& p, sim::SimulatedWindows&) { p.stream[0] = 0x80; }},
    {"compressed size 0x7FFE0001, more than a stream holds",
     [](Payload& p, sim::SimulatedWindows&) { p.compressedSize = 0x7FFE0001u; }},
    {"compressed size 0x80000000", [](Payload& p, sim::SimulatedWindows&) { p.compressedSize = 0x80000000u; }},
    {"compressed size 0xFFFFFFFF", [](Payload& p, sim::SimulatedWindows&) { p.compressedSize = 0xFFFFFFFFu; }},
    {"file offset 0x80000000, beyond the signed seek",
     [](Payload& p, sim::SimulatedWindows&) { p.fileOffset = 0x80000000u; }},
    {"decompressed size 0x7FFE0001, more than a stream holds",
     [](Payload& p, sim::SimulatedWindows&) { p.decompressedSize = 0x7FFE0001u; }},
    {"decompressed size 0x80000000", [](Payload& p, sim::SimulatedWindows&) { p.decompressedSize = 0x80000000u; }},
    {"decompressed size 0xFFFFFFFF", [](Payload& p, sim::SimulatedWindows&) { p.decompressedSize = 0xFFFFFFFFu; }},
};

TEST(PayloadDecoderTest, DamagedPayloadsEndInPackageDamaged) {
  for (const DamagedRow& row : kDamagedRows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    Payload p = MakePayload(3000);
    row.change(p, win);
    const Outcome o = Decode(win, p);

    EXPECT_FALSE(o.returned);
    EXPECT_TRUE(o.process.exitProcessCalled);
    EXPECT_EQ(o.process.exitCode, 0u);
    ASSERT_EQ(win.messageBoxes.size(), 1u);
    EXPECT_EQ(win.messageBoxes[0].text, loader::FatalErrorText(loader::FatalError::PackageDamaged));
    EXPECT_EQ(win.CountEvents("CreateFileA write"), 0u) << "nothing is written to disk";
    EXPECT_EQ(win.Files(), std::vector<std::string>{kLoader});
  }
}

// Sizes no stream can hold, and an offset the seek cannot reach, are refused
// before a block is allocated or a byte read.
TEST(PayloadDecoderTest, UnreachableOffsetsAndOversizedPayloadsAllocateNothing) {
  const struct {
    const char* shows;
    uint32_t fileOffset, compressedSize;
  } rows[] = {
      {"offset 0x80000000", 0x80000000u, 100},
      {"offset 0xFFFFFFFF", 0xFFFFFFFFu, 100},
      {"compressed size 0x7FFE0001", 200, 0x7FFE0001u},
      {"compressed size 0xFFFFFFFF", 200, 0xFFFFFFFFu},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    Payload p = MakePayload(3000);
    p.fileOffset = row.fileOffset;
    p.compressedSize = row.compressedSize;
    Decode(win, p);
    ASSERT_EQ(win.messageBoxes.size(), 1u);
    // Nothing but the box's caption is allocated: no block, no window.
    for (const std::string& e : win.events) {
      size_t size = 0;
      if (std::sscanf(e.c_str(), "HeapAlloc %zu", &size) == 1) EXPECT_LT(size, 1024u) << e;
    }
    EXPECT_EQ(win.CountEvents("ReadFile"), 0u);
  }
}

// ---- Accepted payloads -------------------------------------------------------

struct AcceptedRow {
  const char* shows;
  size_t programSize;
  packagewriter::LzmaSettings settings;
  std::function<void(Payload&)> change;
  size_t expectedSize;  // the program's first bytes that the output holds
};

packagewriter::LzmaSettings Settings(uint32_t lc, uint32_t lp, uint32_t pb, uint32_t dictionary = 1u << 20,
                                     bool endMarker = false) {
  packagewriter::LzmaSettings s;
  s.lc = lc;
  s.lp = lp;
  s.pb = pb;
  s.dictionarySize = dictionary;
  s.endMarker = endMarker;
  return s;
}

const AcceptedRow kAcceptedRows[] = {
    {"properties 0x5D: lc 3, lp 0, pb 2", 3000, Settings(3, 0, 2), [](Payload&) {}, 3000},
    {"lc 0, lp 4, pb 4 (byte 216): the widest lp and pb liblzma takes", 3000, Settings(0, 4, 4), [](Payload&) {}, 3000},
    {"lc 4, lp 0, pb 0 (byte 4)", 3000, Settings(4, 0, 0), [](Payload&) {}, 3000},
    {"dictionary 0 gives a window of 4096 bytes", 50000, Settings(3, 0, 2, 4096),
     [](Payload& p) { p.dictionary = 0; }, 50000},
    {"decompressed size 0 whatever the compressed bytes are", 3000, Settings(3, 0, 2),
     [](Payload& p) {
       for (uint8_t& b : p.stream) b = 0xFF;
       p.decompressedSize = 0;
     },
     0},
    {"compressed size 0 with decompressed size 0", 3000, Settings(3, 0, 2),
     [](Payload& p) {
       p.compressedSize = 0;
       p.decompressedSize = 0;
     },
     0},
    {"bytes after the data inside the compressed size are not read", 3000, Settings(3, 0, 2),
     [](Payload& p) {
       p.stream.insert(p.stream.end(), 500, 0x5A);
       p.compressedSize = static_cast<uint32_t>(p.stream.size());
     },
     3000},
    {"an end marker right after the data", 3000, Settings(3, 0, 2, 1u << 20, true), [](Payload&) {}, 3000},
    // Decoding stops as soon as the declared size is reached: what follows
    // cannot be told from trailing bytes, so the shorter program is taken.
    {"a declared size smaller than the data stops decoding there", 3000, Settings(3, 0, 2),
     [](Payload& p) { p.decompressedSize = 2000; }, 2000},
    {"a payload at offset 0", 3000, Settings(3, 0, 2),
     [](Payload& p) {
       p.before.clear();
       p.fileOffset = 0;
     },
     3000},
};

TEST(PayloadDecoderTest, AcceptedPayloadsDecodeToTheDeclaredSize) {
  for (const AcceptedRow& row : kAcceptedRows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    Payload p = MakePayload(row.programSize, row.settings);
    row.change(p);
    const Outcome o = Decode(win, p);

    ASSERT_TRUE(o.returned);
    EXPECT_TRUE(win.messageBoxes.empty());
    EXPECT_EQ(o.output, Bytes(p.program.begin(), p.program.begin() + row.expectedSize));
    EXPECT_EQ(o.input, Bytes(p.stream.begin(), p.stream.begin() + p.compressedSize));
    EXPECT_EQ(o.inputPosition, 0);
    EXPECT_EQ(o.outputPosition, 0);
    EXPECT_EQ(o.outputCapacity, static_cast<int32_t>(RoundUp128K(row.expectedSize)));
    EXPECT_EQ(win.CountEvents("ReadFile"), 1u) << "one read";
    EXPECT_EQ(win.CountEvents("ReadFile " + std::to_string(p.compressedSize)), 1u);
    EXPECT_EQ(win.CountEvents("SetFilePointer " + std::to_string(p.fileOffset)), 1u);
    EXPECT_EQ(win.CountEvents("HeapReAlloc"), 0u) << "each block is allocated once";
    EXPECT_EQ(win.heapInUse, 0u) << "decoder and streams all given back";
  }
}

// The window is max(dictionary, 4096) bytes, allocated when the decoder is
// set up, whatever the decompressed size.
TEST(PayloadDecoderTest, TheWindowIsAllocatedInFullUpFront) {
  const struct {
    const char* shows;
    uint32_t dictionary;
    uint32_t window;
  } rows[] = {
      {"dictionary 0", 0, 4096},
      {"dictionary 1", 1, 4096},
      {"dictionary 8 MiB, for a program of 0 bytes", 8u << 20, 8u << 20},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.shows);
    sim::SimulatedWindows win;
    Payload p = MakePayload(3000);
    p.dictionary = row.dictionary;
    p.decompressedSize = 0;
    ASSERT_TRUE(Decode(win, p).returned);
    // liblzma may add a few bytes of its own to the window.
    bool found = false;
    for (const std::string& e : win.events) {
      size_t size = 0;
      if (std::sscanf(e.c_str(), "HeapAlloc %zu", &size) == 1 && size >= row.window && size < row.window + 1024) {
        found = true;
      }
    }
    EXPECT_TRUE(found);
  }
}

// ---- Memory the heap refuses -------------------------------------------------

// A dictionary of 0x7FFFFFFF passes the properties check, and its window of
// 2 GiB is asked for, which the address space of a 32-bit process cannot
// give: the process ends quietly with exit code 0, no message, no crash.
TEST(PayloadDecoderTest, AWindowBeyondTheHeapEndsTheProcessQuietly) {
  sim::SimulatedWindows win;
  Payload p = MakePayload(3000);
  p.dictionary = 0x7FFFFFFF;
  const Outcome o = Decode(win, p);
  EXPECT_FALSE(o.returned);
  EXPECT_TRUE(o.process.exitProcessCalled);
  EXPECT_EQ(o.process.exitCode, 0u);
  EXPECT_TRUE(win.messageBoxes.empty());
  bool windowAskedFor = false;
  for (const std::string& e : win.events) {
    unsigned long long size = 0;
    if (std::sscanf(e.c_str(), "HeapAlloc %llu", &size) == 1 && size >= 0x7FFFFFFFull) windowAskedFor = true;
  }
  EXPECT_TRUE(windowAskedFor);
}

// Every allocation of the decoding (the input block, the decoder's tables and
// window, the output block) ends the process quietly when the heap refuses
// it; so does a heap too small for the output block.
TEST(PayloadDecoderTest, EveryAllocationTheHeapRefusesEndsTheProcessQuietly) {
  const Payload payload = MakePayload(300000);
  size_t allocations = 0;
  {
    sim::SimulatedWindows win;
    ASSERT_TRUE(Decode(win, payload).returned);
    allocations = win.CountEvents("HeapAlloc") + win.CountEvents("HeapReAlloc");
    ASSERT_GE(allocations, 3u);
  }
  for (size_t n = 1; n <= allocations; ++n) {
    SCOPED_TRACE("allocation " + std::to_string(n));
    sim::SimulatedWindows win;
    win.failAllocationNumber = static_cast<int64_t>(n);
    const Outcome o = Decode(win, payload);
    EXPECT_FALSE(o.returned);
    EXPECT_TRUE(o.process.exitProcessCalled);
    EXPECT_EQ(o.process.exitCode, 0u);
    EXPECT_TRUE(win.messageBoxes.empty());
  }
  {
    SCOPED_TRACE("a heap with room for the input and the window, not the output");
    sim::SimulatedWindows win;
    win.heapLimit = 2u << 20;
    Payload p = payload;
    p.decompressedSize = 4u << 20;
    const Outcome o = Decode(win, p);
    EXPECT_FALSE(o.returned);
    EXPECT_EQ(o.process.exitCode, 0u);
    EXPECT_TRUE(win.messageBoxes.empty());
  }
}

// The whole compressed payload and the whole program are held at once, each
// in one block, with the decoder's window and tables while decoding. Over a
// whole run of the loader:
//   heapPeak <= R(compressed) + R(decompressed) + decoder + 64 KiB
// where R rounds up to 128 KiB and `decoder` is liblzma's own figure for the
// raw LZMA1 decoder (window plus tables, lzma_raw_decoder_memusage).
TEST(PayloadDecoderTest, PeakMemoryOfARunStaysWithinBothStreamsAndTheDecoder) {
  packagewriter::PackageSpec inputs = fixtures::DefaultSpec();
  inputs.setup32 = fixtures::SetupProgram(6u << 20, 32);  // chosen on 32-bit Windows
  inputs.lzma.preset = 1;                                // quicker to make; the decoder's needs are the same
  const packagewriter::BuiltPackage package = packagewriter::BuildPackage(inputs);
  const loader::PayloadDescriptor payload = package.header.Payload32();

  sim::SimulatedWindows win;
  fixtures::InstallLoader(win, package);
  const sim::ProcessResult result = sim::RunLoaderProcess();
  ASSERT_TRUE(win.messageBoxes.empty());
  ASSERT_EQ(result.exitCode, 0u);
  ASSERT_EQ(win.launches.size(), 1u);

  lzma_options_lzma options = {};
  options.dict_size = inputs.lzma.dictionarySize;
  options.lc = inputs.lzma.lc;
  options.lp = inputs.lzma.lp;
  options.pb = inputs.lzma.pb;
  const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  const uint64_t decoder = lzma_raw_decoder_memusage(filters);
  ASSERT_NE(decoder, UINT64_MAX);
  const uint64_t bound =
      RoundUp128K(payload.CompressedSize) + RoundUp128K(payload.DecompressedSize) + decoder + (64u << 10);

  std::printf("[ figures  ] compressed %u (block %u), decompressed %u (block %u), decoder %llu; "
              "heapPeak %zu <= bound %llu\n",
              payload.CompressedSize, RoundUp128K(payload.CompressedSize), payload.DecompressedSize,
              RoundUp128K(payload.DecompressedSize), static_cast<unsigned long long>(decoder), win.heapPeak,
              static_cast<unsigned long long>(bound));
  EXPECT_LE(win.heapPeak, bound);
  EXPECT_EQ(win.CountEvents("HeapAlloc " + std::to_string(RoundUp128K(payload.DecompressedSize))), 1u)
      << "the output block is allocated once, at its full size";
  EXPECT_LT(win.launches[0].heapInUseAtStart, 4096u) << "nothing of the payload is held while setup runs";
}

}  // namespace
