#include "download/crc32.h"

#include <gtest/gtest.h>

#include <string_view>

#include "platform/little_endian.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(Crc32, PublishedCheckValueStoredLeastSignificantByteFirst) {
  std::string_view check = "123456789";
  uint32_t crc = Crc32(Bytes(check).data(), 9);
  EXPECT_EQ(crc, 0x0376E6E7u);
  uint8_t stored[4];
  WriteLe32(stored, crc);
  EXPECT_EQ(stored[0], 0xE7);
  EXPECT_EQ(stored[1], 0xE6);
  EXPECT_EQ(stored[2], 0x76);
  EXPECT_EQ(stored[3], 0x03);
}

TEST(Crc32, EmptyAndNegativeCountsGiveTheInitialRegister) {
  uint8_t byte = 0x55;
  EXPECT_EQ(Crc32(&byte, 0), 0xFFFFFFFFu);
  EXPECT_EQ(Crc32(&byte, -5), 0xFFFFFFFFu);
}

TEST(Crc32, TableEntryOneIsThePolynomial) {
  uint8_t one = 1;
  EXPECT_EQ(Crc32Bytewise(0, {&one, 1}), 0x04C11DB7u);
}

TEST(Crc32, SlicedFormAgreesWithBytewiseAtEveryLengthAndAlignment) {
  std::vector<uint8_t> data = sample::RandomBytes(300, 7);
  for (size_t start = 0; start < 9; ++start) {
    for (size_t length = 0; start + length <= data.size(); length += (length < 40 ? 1 : 37)) {
      std::span<const uint8_t> piece(data.data() + start, length);
      ASSERT_EQ(Crc32Update(kCrc32Initial, piece), Crc32Bytewise(kCrc32Initial, piece))
          << "start " << start << " length " << length;
    }
  }
}

TEST(Crc32, PiecesComposeToTheCrcOfTheWhole) {
  std::vector<uint8_t> data = sample::RandomBytes(200000, 3);
  uint32_t whole = Crc32(data.data(), static_cast<int32_t>(data.size()));
  uint32_t pieces = kCrc32Initial;
  for (size_t at = 0; at < data.size(); at += 65536) {
    pieces =
        Crc32Update(pieces, std::span(data).subspan(at, std::min<size_t>(65536, data.size() - at)));
  }
  EXPECT_EQ(pieces, whole);
}

}  // namespace
}  // namespace qv
