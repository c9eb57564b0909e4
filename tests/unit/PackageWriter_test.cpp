// The package writer: what it builds reads back through the loader's own
// records, decodes as the loader decodes, and is refused when the loader
// could not use it.
#include <gtest/gtest.h>
#include <lzma.h>
#include <string.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "package/CRC32.h"
#include "package/StubTypes.h"
#include "tests/support/Packages.h"
#include "tools/package-writer/PackageWriter.h"

namespace {

using packagewriter::Bytes;
using packagewriter::BuildPackage;
using packagewriter::BuiltPackage;
using packagewriter::PackageSpec;

Bytes Filled(size_t size, uint8_t value) { return Bytes(size, value); }

// Decodes one payload as the loader does: raw LZMA1, window max(dictionary,
// 4096), output room the decompressed size, stopping when it is full, at an
// end marker or at an error. Returns the bytes produced.
Bytes DecodeLikeLoader(const Bytes& file, const loader::PackageHeader& header, const loader::PayloadDescriptor& d) {
  lzma_options_lzma options{};
  const uint8_t b = header.LzmaPropertiesByte();
  options.lc = b % 9;
  options.lp = (b / 9) % 5;
  options.pb = b / 45;
  options.dict_size = std::max<uint32_t>(header.LzmaDictionarySize(), 4096);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_decoder(&stream, filters), LZMA_OK);
  Bytes out(d.DecompressedSize);
  stream.next_in = file.data() + d.FileOffset;
  stream.avail_in = d.CompressedSize;
  stream.next_out = out.data();
  stream.avail_out = out.size();
  while (stream.avail_out > 0 && lzma_code(&stream, LZMA_RUN) == LZMA_OK) {
  }
  out.resize(stream.total_out);
  lzma_end(&stream);
  return out;
}

std::u16string StoredText(const Bytes& file, const loader::MessageRef& ref) {
  std::u16string text;
  for (uint32_t i = 0; i < ref.Length; ++i)
    text += static_cast<char16_t>(loader::ReadLittle16(file.data() + ref.Offset + 2 * i));
  return text;
}

loader::PackageLocator LocatorIn(const Bytes& file) {
  loader::PackageLocator locator;
  memcpy(locator.Bytes, file.data() + loader::kLocatorOffset, sizeof locator.Bytes);
  return locator;
}

loader::PackageHeader HeaderIn(const Bytes& file, uint32_t offset) {
  loader::PackageHeader header;
  memcpy(header.Bytes, file.data() + offset, sizeof header.Bytes);
  return header;
}

PackageSpec BothPayloads() {
  PackageSpec inputs;
  inputs.stub = packagewriter::MinimalStub(700);
  inputs.setup32 = fixtures::SetupProgram(3000, 32);
  inputs.setup64 = fixtures::SetupProgram(5000, 64);
  inputs.architectureMessage = u"Not for this architecture.";
  inputs.systemMessage = u"Not for %USER%.\r\nSorry.";
  return inputs;
}

struct LayoutRow {
  const char* what;
  PackageSpec inputs;
};

std::vector<LayoutRow> LayoutRows() {
  std::vector<LayoutRow> rows;
  rows.push_back({"both payloads, both texts, defaults", BothPayloads()});
  {
    PackageSpec s = BothPayloads();
    s.lzma.endMarker = true;
    s.lzma.preset = 1;
    rows.push_back({"end marker, preset 1", s});
  }
  {
    PackageSpec s = BothPayloads();
    s.setup64.reset();
    s.without64 = packagewriter::Declare64::RefuseOn64BitWindows;
    s.architectureMessage.clear();
    rows.push_back({"32-bit only, refusing 64-bit Windows, empty architecture text", s});
  }
  {
    PackageSpec s = BothPayloads();
    s.setup64.reset();
    s.systemMessage.clear();
    rows.push_back({"32-bit only for every Windows, empty system text", s});
  }
  {
    PackageSpec s = BothPayloads();
    s.setup32.reset();
    s.supportedSystems = 0x80000000000007E0ull;
    s.minReleaseId = 1507;
    s.maxReleaseId = 9999;
    s.elevationMode = 1;
    rows.push_back({"64-bit only, systems XP and later, release range, elevation 1", s});
  }
  {
    PackageSpec s = BothPayloads();
    s.extraInside = Filled(33, 0xAA);
    s.extraOutside = Filled(17, 0xBB);
    s.trailing = Filled(50, 0xCC);
    s.detached = true;
    s.elevationMode = 2;
    rows.push_back({"extra data in and after the range, trailing bytes, detached", s});
  }
  {
    PackageSpec s = BothPayloads();
    s.lzma.dictionarySize = 0;
    s.lzma.lc = 0;
    s.lzma.lp = 4;
    s.lzma.pb = 4;
    rows.push_back({"dictionary 0 stored as asked, lc 0 lp 4 pb 4", s});
  }
  {
    PackageSpec s = BothPayloads();
    s.setup32 = Bytes();
    s.setup64 = fixtures::SetupProgram(1, 1);
    rows.push_back({"empty and one-byte programs", s});
  }
  return rows;
}

TEST(PackageWriterTest, BuiltPackageReadsBackAsAsked) {
  for (const LayoutRow& row : LayoutRows()) {
    SCOPED_TRACE(row.what);
    const PackageSpec& inputs = row.inputs;
    const BuiltPackage built = BuildPackage(inputs);
    const Bytes& file = built.bytes;

    const loader::PackageLocator locator = LocatorIn(file);
    EXPECT_EQ(memcmp(locator.Bytes, built.locator.Bytes, 24), 0);
    EXPECT_EQ(locator.HeaderOffset(), inputs.stub.size());
    EXPECT_EQ(locator.HeaderOffset() + locator.ChecksumLength(), built.checksumRangeEnd);
    EXPECT_EQ(loader::Crc32(file.data() + locator.HeaderOffset(), static_cast<int32_t>(locator.ChecksumLength())),
              locator.Checksum());
    EXPECT_EQ(locator.ExpectedSizeLow(), built.packageEnd);
    EXPECT_EQ(locator.ExpectedSizeHigh(), 0u);
    EXPECT_EQ(built.packageEnd, file.size() - inputs.trailing.size());
    EXPECT_EQ(built.checksumRangeEnd, built.packageEnd - inputs.extraOutside.size());
    EXPECT_EQ(locator.DetachedFileSize(), inputs.detached ? built.packageEnd : 0u);
    EXPECT_TRUE(std::equal(inputs.stub.begin(), inputs.stub.begin() + 128, file.begin()));
    EXPECT_TRUE(std::equal(inputs.stub.begin() + 152, inputs.stub.end(), file.begin() + 152));

    const loader::PackageHeader header = HeaderIn(file, locator.HeaderOffset());
    EXPECT_EQ(memcmp(header.Bytes, built.header.Bytes, 70), 0);
    EXPECT_EQ(header.LzmaPropertiesByte(), (inputs.lzma.pb * 5 + inputs.lzma.lp) * 9 + inputs.lzma.lc);
    EXPECT_EQ(header.LzmaDictionarySize(), inputs.lzma.dictionarySize);
    for (unsigned n = 0; n < 64; ++n) EXPECT_EQ(header.Supports(n), ((inputs.supportedSystems >> n) & 1) != 0) << n;
    EXPECT_EQ(header.MinReleaseId(), inputs.minReleaseId);
    EXPECT_EQ(header.MaxReleaseId(), inputs.maxReleaseId);
    EXPECT_EQ(header.ElevationMode(), inputs.elevationMode);
    for (int i = 46; i < 58; ++i) EXPECT_EQ(header.Bytes[i], 0) << i;

    const loader::PayloadDescriptor p32 = header.Payload32(), p64 = header.Payload64();
    if (inputs.setup32) {
      EXPECT_EQ(p32.FileOffset, locator.HeaderOffset() + 70);
      EXPECT_EQ(p32.DecompressedSize, inputs.setup32->size());
      EXPECT_EQ(DecodeLikeLoader(file, header, p32), *inputs.setup32);
    } else {
      EXPECT_EQ(p32.FileOffset, 0u);
    }
    if (inputs.setup64) {
      EXPECT_EQ(p64.FileOffset, locator.HeaderOffset() + 70 + p32.CompressedSize);
      EXPECT_EQ(p64.DecompressedSize, inputs.setup64->size());
      EXPECT_EQ(DecodeLikeLoader(file, header, p64), *inputs.setup64);
    } else {
      EXPECT_EQ(p64.FileOffset,
                inputs.without64 == packagewriter::Declare64::RefuseOn64BitWindows ? loader::kRefuse64BitWindows : 0u);
    }

    const loader::MessageRef arch = header.ArchitectureMessage(), sys = header.SystemMessage();
    EXPECT_EQ(arch.Length, inputs.architectureMessage.size());
    EXPECT_EQ(sys.Length, inputs.systemMessage.size());
    EXPECT_EQ(arch.Offset, built.architectureMessageOffset);
    EXPECT_EQ(sys.Offset, built.systemMessageOffset);
    if (arch.Length == 0) {
      EXPECT_EQ(arch.Offset, 0u);
    }
    if (sys.Length == 0) {
      EXPECT_EQ(sys.Offset, 0u);
    } else {
      EXPECT_EQ(sys.Offset + 2u * sys.Length, loader::ReadLittle32(header.Bytes + 42));
    }
    EXPECT_EQ(StoredText(file, arch), inputs.architectureMessage);
    EXPECT_EQ(StoredText(file, sys), inputs.systemMessage);
    const uint32_t textsEnd = built.checksumRangeEnd - inputs.extraInside.size();
    EXPECT_EQ(loader::ReadLittle32(header.Bytes + 42), textsEnd);
    EXPECT_TRUE(std::equal(inputs.extraInside.begin(), inputs.extraInside.end(), file.begin() + textsEnd));
    EXPECT_TRUE(std::equal(inputs.trailing.begin(), inputs.trailing.end(), file.end() - inputs.trailing.size()));
  }
}

TEST(PackageWriterTest, SameSpecGivesSameBytes) {
  PackageSpec inputs = BothPayloads();
  inputs.setup64 = fixtures::SetupProgram(1200u << 10, 7);  // more than one input piece
  inputs.lzma.preset = 1;
  EXPECT_EQ(BuildPackage(inputs).bytes, BuildPackage(inputs).bytes);
}

// Decodes `stream` with liblzma's strict LZMA1EXT decoder, told the size and
// whether an end marker may follow; returns whether it ended cleanly having
// used every compressed byte.
bool DecodesStrictly(const Bytes& stream, const Bytes& expected, bool allowEndMarker) {
  lzma_options_lzma options{};
  lzma_lzma_preset(&options, 6);
  options.ext_flags = allowEndMarker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  options.ext_size_low = static_cast<uint32_t>(expected.size());
  options.ext_size_high = 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&s, filters) != LZMA_OK) return false;
  Bytes out(expected.size() + 16);
  s.next_in = stream.data();
  s.avail_in = stream.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  lzma_ret ret = lzma_code(&s, LZMA_FINISH);
  out.resize(s.total_out);
  const bool clean = ret == LZMA_STREAM_END && s.avail_in == 0 && out == expected;
  lzma_end(&s);
  return clean;
}

TEST(PackageWriterTest, EndMarkerOnlyWhenAsked) {
  const Bytes data = fixtures::SetupProgram(20000, 3);
  packagewriter::LzmaSettings settings;
  const Bytes plain = packagewriter::CompressRaw(data, settings);
  settings.endMarker = true;
  const Bytes marked = packagewriter::CompressRaw(data, settings);
  EXPECT_TRUE(DecodesStrictly(plain, data, /*allowEndMarker=*/false));
  EXPECT_FALSE(DecodesStrictly(marked, data, /*allowEndMarker=*/false));
  EXPECT_TRUE(DecodesStrictly(marked, data, /*allowEndMarker=*/true));
}

TEST(PackageWriterTest, ProgressReachesTheWholeInput) {
  const Bytes data = fixtures::SetupProgram(1100u << 10, 5);
  packagewriter::LzmaSettings fast;
  fast.preset = 0;
  uint64_t last = 0, calls = 0;
  packagewriter::CompressRaw(data, fast, [&](uint64_t done, uint64_t total) {
    EXPECT_EQ(total, data.size());
    EXPECT_GE(done, last);
    last = done;
    ++calls;
  });
  EXPECT_EQ(last, data.size());
  EXPECT_GE(calls, 2u);
}

struct RefusalRow {
  const char* what;
  void (*change)(PackageSpec&);
  const char* reason;  // part of the message
};

const RefusalRow kRefusals[] = {
    {"stub too short for a PE header", [](PackageSpec& s) { s.stub.resize(200); }, "too short"},
    {"stub without MZ", [](PackageSpec& s) { s.stub[0] = 'X'; }, "MZ"},
    {"DOS header pointing to 128", [](PackageSpec& s) { loader::WriteLittle32(s.stub.data() + 0x3C, 128); },
     "not 256"},
    {"no PE header at 256", [](PackageSpec& s) { s.stub[257] = 'X'; }, "no PE header"},
    {"byte 151 of the locator slot taken", [](PackageSpec& s) { s.stub[151] = 1; }, "128..151 are not free"},
    {"stub carrying a package", [](PackageSpec& s) { s.stub = BuildPackage(BothPayloads()).bytes; },
     "already carries a package"},
    {"no payload", [](PackageSpec& s) { s.setup32.reset(), s.setup64.reset(); }, "no payload"},
    {"architecture text of 65536 units", [](PackageSpec& s) { s.architectureMessage.assign(65536, u'x'); },
     "65535"},
    {"system text of 65536 units", [](PackageSpec& s) { s.systemMessage.assign(65536, u'x'); }, "65535"},
    {"dictionary of 2^31", [](PackageSpec& s) { s.lzma.dictionarySize = 0x80000000u; }, "2^31"},
    {"pb 5", [](PackageSpec& s) { s.lzma.pb = 5; }, "out of range"},
    {"lc 4 with lp 1, beyond liblzma", [](PackageSpec& s) { s.lzma.lc = 4, s.lzma.lp = 1; }, "at most 4"},
    {"preset 10", [](PackageSpec& s) { s.lzma.preset = 10; }, "preset"},
};

TEST(PackageWriterTest, RefusesWhatTheLoaderCannotUse) {
  for (const RefusalRow& row : kRefusals) {
    SCOPED_TRACE(row.what);
    PackageSpec inputs = BothPayloads();
    row.change(inputs);
    try {
      BuildPackage(inputs);
      ADD_FAILURE() << "built";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(row.reason), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << e.what();
    }
  }
}

TEST(PackageWriterTest, LimitsAreAccepted) {
  PackageSpec inputs = BothPayloads();
  inputs.architectureMessage.assign(65535, u'a');
  inputs.lzma.dictionarySize = 0x7FFFFFFF;
  inputs.lzma.preset = 0;
  const BuiltPackage built = BuildPackage(inputs);
  EXPECT_EQ(built.header.ArchitectureMessage().Length, 65535);
  EXPECT_EQ(built.header.LzmaDictionarySize(), 0x7FFFFFFFu);
  EXPECT_EQ(DecodeLikeLoader(built.bytes, built.header, built.header.Payload32()), *inputs.setup32);
}

TEST(PackageWriterTest, RewriteStoresChangedRecords) {
  BuiltPackage built = BuildPackage(BothPayloads());
  const Bytes original = built.bytes;
  built.header.Bytes[17] = 7;
  packagewriter::Rewrite(built);
  EXPECT_EQ(built.bytes[built.locator.HeaderOffset() + 17], 7);
  EXPECT_EQ(LocatorIn(built.bytes).Checksum(),
            loader::Crc32(built.bytes.data() + built.locator.HeaderOffset(),
                          static_cast<int32_t>(built.locator.ChecksumLength())));

  // Without recomputing, the stale checksum stays.
  const uint32_t stale = built.locator.Checksum();
  built.header.Bytes[17] = 1;
  packagewriter::Rewrite(built, false);
  EXPECT_EQ(LocatorIn(built.bytes).Checksum(), stale);

  // A header moved past the end is written only as far as the file goes.
  loader::WriteLittle32(built.locator.Bytes, static_cast<uint32_t>(built.bytes.size() - 10));
  packagewriter::Rewrite(built, false);
  EXPECT_EQ(built.bytes.size(), original.size());
  EXPECT_EQ(LocatorIn(built.bytes).HeaderOffset(), original.size() - 10);
}

struct TextRow {
  const char* utf8;
  std::u16string utf16;
};

TEST(PackageWriterTest, TextFromUtf8MakesCrLfAndUtf16) {
  const TextRow rows[] = {
      {"a\nb", u"a\r\nb"},
      {"a\r\nb", u"a\r\nb"},
      {"a\rb", u"a\r\nb"},
      {"\n\r\n\r", u"\r\n\r\n\r\n"},
      {"%USER% caf\xC3\xA9 \xE2\x82\xAC", u"%USER% caf\u00E9 \u20AC"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"", u""},
  };
  for (const TextRow& row : rows) EXPECT_EQ(packagewriter::TextFromUtf8(row.utf8), row.utf16) << row.utf8;

  for (const char* bad : {"\xC0\x80", "\xED\xA0\x80", "\xE2\x82", "\xFF", "a\x80", "\xF4\x90\x80\x80"})
    EXPECT_THROW(packagewriter::TextFromUtf8(bad), std::runtime_error) << bad;
}

TEST(PackageWriterTest, SystemNamesMatchElements) {
  const std::pair<const char*, int> rows[] = {{"95", 0},  {"98", 1}, {"me", 2}, {"nt4", 3},  {"2000", 4},
                                              {"xp", 5},  {"vista", 6}, {"7", 7}, {"8", 8}, {"8.1", 9},
                                              {"10", 10}, {"later", 63}};
  for (const auto& [name, element] : rows) {
    EXPECT_EQ(packagewriter::SystemElement(name), element);
    EXPECT_EQ(packagewriter::SystemElementName(element), name);
  }
  EXPECT_EQ(packagewriter::SystemElement("11"), -1);
  EXPECT_EQ(packagewriter::SystemElement("XP"), -1);
  EXPECT_EQ(packagewriter::SystemElementName(11), "");
}

}  // namespace
