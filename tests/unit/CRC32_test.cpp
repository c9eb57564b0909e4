// Crc32 folds eight bytes at a time; its written form, Crc32ByteAtATime,
// goes one byte at a time through the 256-entry table. Both must give the
// same checksum for every input, and the zlib CRC-32 that liblzma computes.
#include <gtest/gtest.h>
#include <lzma.h>
#include <stdint.h>

#include <random>
#include <vector>

#include "package/CRC32.h"

namespace {

TEST(Crc32Forms, AgreeOnRandomInputsAtEveryLengthAndAlignment) {
  std::mt19937 random(20240611);
  std::vector<uint8_t> bytes(70000);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  // Every length up to 100 and start offsets 0..7 cover each split between
  // the eight-byte steps and the bytes left over; then random spans.
  for (int32_t length = 0; length <= 100; ++length) {
    for (size_t start = 0; start < 8; ++start) {
      const uint8_t* p = bytes.data() + start;
      const uint32_t written = loader::Crc32ByteAtATime(p, length);
      ASSERT_EQ(loader::Crc32(p, length), written) << "length " << length << ", offset " << start;
      ASSERT_EQ(written, length == 0 ? 0u : lzma_crc32(p, static_cast<size_t>(length), 0)) << "length " << length;
    }
  }
  for (int round = 0; round < 200; ++round) {
    const size_t start = random() % 1000;
    const int32_t length = static_cast<int32_t>(random() % (bytes.size() - start));
    const uint8_t* p = bytes.data() + start;
    ASSERT_EQ(loader::Crc32(p, length), loader::Crc32ByteAtATime(p, length)) << "length " << length;
    ASSERT_EQ(loader::Crc32(p, length), length == 0 ? 0u : lzma_crc32(p, static_cast<size_t>(length), 0));
  }
}

TEST(Crc32Forms, ZeroAndNegativeLengthsGiveZeroWithoutReading) {
  const uint8_t byte = 0x5A;
  for (const int32_t length : {0, -1, -8, -9, INT32_MIN}) {
    SCOPED_TRACE(length);
    // A null pointer: nothing may be read.
    EXPECT_EQ(loader::Crc32(nullptr, length), 0u);
    EXPECT_EQ(loader::Crc32ByteAtATime(nullptr, length), 0u);
    EXPECT_EQ(loader::Crc32(&byte, length), 0u);
  }
}

TEST(Crc32Forms, KnownValues) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  std::vector<uint8_t> everyByte(256);
  for (int i = 0; i < 256; ++i) everyByte[i] = static_cast<uint8_t>(i);
  for (const auto crc : {&loader::Crc32, &loader::Crc32ByteAtATime}) {
    EXPECT_EQ(crc(digits, 9), 0xCBF43926u);  // the check value
    EXPECT_EQ(crc(everyByte.data(), 256), 0x29058C73u);
  }
}

}  // namespace
