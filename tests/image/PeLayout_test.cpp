// The post-link layout step on small PE images made here: headers moved to
// 256 in place when the header area has room, the header area grown (and the
// section data moved with it) when it has not, and a refusal when the first
// section leaves no room to grow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PeImage.h"
#include "StubLayout.h"

namespace {

struct ImageShape {
  uint32_t ntOffset;         // e_lfanew as the linker left it
  unsigned sections;         // count of sections, 0x200 bytes of data each
  uint32_t sizeOfHeaders;    // the header area
  uint32_t sectionAlignment; // the first section's RVA
  bool withCheckSum;
};

uint8_t DataByte(unsigned section, size_t i) { return static_cast<uint8_t>(0x11 * (section + 1) + i); }

std::vector<uint8_t> MakeImage(const ImageShape& shape) {
  std::vector<uint8_t> bytes(shape.sizeOfHeaders + 0x200 * shape.sections, 0);
  bytes[0] = 'M';
  bytes[1] = 'Z';
  for (size_t i = 64; i < 128; ++i) bytes[i] = 0xCC;  // a DOS stub
  pe::Write32(bytes, 0x3C, shape.ntOffset);
  const size_t nt = shape.ntOffset;
  pe::Write32(bytes, nt, 0x00004550);
  pe::Write16(bytes, nt + 4, pe::kMachineI386);
  pe::Write16(bytes, nt + 6, static_cast<uint16_t>(shape.sections));
  pe::Write16(bytes, nt + 20, 224);
  const size_t opt = nt + 24;
  pe::Write16(bytes, opt, pe::kMagicPe32);
  pe::Write32(bytes, opt + 32, shape.sectionAlignment);
  pe::Write32(bytes, opt + 36, 0x200);
  pe::Write32(bytes, opt + 60, shape.sizeOfHeaders);
  pe::Write16(bytes, opt + 68, pe::kSubsystemWindowsGui);
  pe::Write32(bytes, opt + 92, 16);
  for (unsigned s = 0; s < shape.sections; ++s) {
    const size_t at = opt + 224 + 40 * s;
    bytes[at] = '.';
    bytes[at + 1] = static_cast<uint8_t>('a' + s);
    pe::Write32(bytes, at + 8, 0x200);
    pe::Write32(bytes, at + 12, shape.sectionAlignment * (s + 1));
    pe::Write32(bytes, at + 16, 0x200);
    pe::Write32(bytes, at + 20, shape.sizeOfHeaders + 0x200 * s);
    for (size_t i = 0; i < 0x200; ++i) bytes[shape.sizeOfHeaders + 0x200 * s + i] = DataByte(s, i);
  }
  if (shape.withCheckSum) pe::Write32(bytes, opt + 64, 0x12345678);
  return bytes;
}

struct LayoutCase {
  const char* name;
  const char* shows;
  ImageShape shape;
  uint32_t expectedSizeOfHeaders;
};

class PeLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PeLayout, MovesHeadersTo256AndKeepsEverySection) {
  const LayoutCase& row = GetParam();
  std::vector<uint8_t> bytes = MakeImage(row.shape);
  std::string error;
  ASSERT_TRUE(pe::MoveHeadersTo256(bytes, error)) << error;
  EXPECT_TRUE(pe::CheckStubLayout(bytes, error)) << error;

  pe::PeImage image;
  ASSERT_TRUE(pe::ReadPeImage(bytes, image, error)) << error;
  EXPECT_EQ(image.NtHeaderOffset, 256u);
  EXPECT_EQ(image.SizeOfHeaders, row.expectedSizeOfHeaders);
  EXPECT_EQ(bytes[64], 0xCC) << "the DOS stub before 128 stays";
  for (size_t i = 128; i < 256; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
  ASSERT_EQ(image.Sections.size(), row.shape.sections);
  for (unsigned s = 0; s < row.shape.sections; ++s) {
    const pe::Section& section = image.Sections[s];
    EXPECT_EQ(section.VirtualAddress, row.shape.sectionAlignment * (s + 1));
    EXPECT_EQ(section.RawOffset, image.SizeOfHeaders + 0x200 * s);
    for (size_t i = 0; i < 0x200; ++i) ASSERT_EQ(bytes[section.RawOffset + i], DataByte(s, i)) << section.Name;
  }
  if (row.shape.withCheckSum) EXPECT_EQ(image.CheckSum, pe::ComputeCheckSum(bytes, image.CheckSumOffset()));
  else EXPECT_EQ(image.CheckSum, 0u);

  // Running the step again changes nothing.
  const std::vector<uint8_t> once = bytes;
  ASSERT_TRUE(pe::MoveHeadersTo256(bytes, error)) << error;
  EXPECT_EQ(bytes, once);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, PeLayout,
    ::testing::Values(
        LayoutCase{"RoomInPlace", "six sections: the 1024-byte header area has room at 256", {128, 6, 0x400, 0x1000, false}, 0x400},
        LayoutCase{"GrowsHeaderArea", "three sections: 512 bytes are too few, the area grows by 512", {128, 3, 0x200, 0x1000, false},
                   0x400},
        LayoutCase{"RecomputesCheckSum", "a linker checksum is made right again", {128, 6, 0x400, 0x1000, true}, 0x400},
        LayoutCase{"CheckSumAfterGrowth", "a checksum stays right when the area grows", {128, 2, 0x200, 0x1000, true}, 0x400},
        LayoutCase{"AlreadyAt256", "headers already at 256 stay", {256, 3, 0x400, 0x1000, false}, 0x400}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST(PeLayoutRefusal, NoRoomToGrowBelowTheFirstSection) {
  // Sections aligned like the file: the first one starts right after 512
  // bytes of headers, so the header area cannot grow.
  std::vector<uint8_t> bytes = MakeImage({128, 3, 0x200, 0x200, false});
  std::string error;
  EXPECT_FALSE(pe::MoveHeadersTo256(bytes, error));
  EXPECT_NE(error.find("no room"), std::string::npos) << error;
}

TEST(PeLayoutRefusal, CheckFindsALocatorSlotThatIsNotZero) {
  std::vector<uint8_t> bytes = MakeImage({128, 6, 0x400, 0x1000, false});
  std::string error;
  ASSERT_TRUE(pe::MoveHeadersTo256(bytes, error)) << error;
  bytes[200] = 1;
  EXPECT_FALSE(pe::CheckStubLayout(bytes, error));
  EXPECT_NE(error.find("200"), std::string::npos) << error;
}

}  // namespace
