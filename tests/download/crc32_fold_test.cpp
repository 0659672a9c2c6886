#include "download/crc32_fold.h"

#include <gtest/gtest.h>

#include "download/crc32.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

// Each folding width against the byte-at-a-time reference: every length across the first
// few folding strides and their tails, several alignments, and registers other than the
// initial one (a CRC continued from earlier pieces).
TEST(Crc32Fold, BothWidthsAgreeWithBytewiseAtEveryLengthAlignmentAndRegister) {
  if (!crc32_fold::Available()) GTEST_SKIP() << "no carry-less multiplication on this processor";
  const std::vector<uint8_t> data = sample::RandomBytes(5000, 21);
  const uint32_t registers[] = {kCrc32Initial, 0, 0x04C11DB7, 0x80000001};
  for (size_t start : {0, 1, 7, 13}) {
    for (size_t length = crc32_fold::kMinimum; length <= 1200; ++length) {
      std::span<const uint8_t> piece(data.data() + start, length);
      const uint32_t crc = registers[length % 4];
      const uint32_t expected = Crc32Bytewise(crc, piece);
      ASSERT_EQ(crc32_fold::Update(crc, piece), expected)
          << "start " << start << " length " << length;
      if (crc32_fold::WideAvailable() && length >= crc32_fold::kWideMinimum) {
        ASSERT_EQ(crc32_fold::UpdateWide(crc, piece), expected)
            << "start " << start << " length " << length;
      }
    }
  }
}

TEST(Crc32Fold, ErasedAndLongInputs) {
  if (!crc32_fold::Available()) GTEST_SKIP() << "no carry-less multiplication on this processor";
  for (const std::vector<uint8_t>& data :
       {std::vector<uint8_t>(0x10000, 0xFF), std::vector<uint8_t>(0x2000, 0x00),
        sample::CodeLikeBytes(300001, 2)}) {
    const uint32_t expected = Crc32Bytewise(kCrc32Initial, data);
    EXPECT_EQ(crc32_fold::Update(kCrc32Initial, data), expected);
    if (crc32_fold::WideAvailable()) {
      EXPECT_EQ(crc32_fold::UpdateWide(kCrc32Initial, data), expected);
    }
    EXPECT_EQ(Crc32Update(kCrc32Initial, data), expected);
  }
}

}  // namespace
}  // namespace qv
