#include "image/variant.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(Variant, ClassifiesByPartitionCountAndByExactSize) {
  EXPECT_EQ(VariantFromPartitionCount(102), kAppImage);
  EXPECT_EQ(VariantFromPartitionCount(130), kAllImage);
  EXPECT_EQ(VariantFromPartitionCount(142), kFullImage);
  for (int32_t other : {0, 1, 4, 10, 101, 143, -1})
    EXPECT_EQ(VariantFromPartitionCount(other), kUnrecognised);

  EXPECT_EQ(VariantFromImageSize(0x660000), kAppImage);
  EXPECT_EQ(VariantFromImageSize(0x7B0000), kAllImage);
  EXPECT_EQ(VariantFromImageSize(0x800000), kFullImage);
  for (int32_t other : {0x660001, 0x65FFFF, 0x10000, 0x40000, 0})
    EXPECT_EQ(VariantFromImageSize(other), kUnrecognised);

  EXPECT_EQ(PartitionCountOfVariant(kAppImage), 102);
  EXPECT_EQ(PartitionCountOfVariant(kAllImage), 130);
  EXPECT_EQ(PartitionCountOfVariant(kFullImage), 142);
  EXPECT_EQ(VariantFromPartitionCount(PartitionCountOfVariant(kUnrecognised)), kUnrecognised);
}

TEST(Variant, BlockFileOffsets) {
  EXPECT_EQ(BlockFileOffset(kAllImage, 121), 0x790000);
  EXPECT_EQ(BlockFileOffset(kAllImage, 122), 0x7A0000);
  EXPECT_EQ(BlockFileOffset(kAllImage, 129), 0x7AE000);
  EXPECT_EQ(BlockFileOffset(kFullImage, 7), 0xE000);
  EXPECT_EQ(BlockFileOffset(kFullImage, 8), 0x10000);
  EXPECT_EQ(BlockFileOffset(kFullImage, 134), 0x7F0000);
  EXPECT_EQ(BlockFileOffset(kFullImage, 141), 0x7FE000);
  EXPECT_EQ(BlockFileOffset(kAppImage, 0), 0);
  EXPECT_EQ(BlockFileOffset(kAppImage, 101), 0x650000);
  EXPECT_EQ(BlockFileOffset(kDefaultDownload, 3), 0x30000);
  EXPECT_EQ(BlockFileOffset(kKeyDownload, 0), 0);
  EXPECT_EQ(BlockFileOffset(kUnrecognised, 3), 0);
  EXPECT_EQ(BlockFileOffset(kAppImage, 102), 0);  // past the table
}

// The blocks of every layout follow each other without gaps and fill the converted file.
TEST(Variant, LayoutTablesTileTheirFiles) {
  for (Variant variant : {kKeyDownload, kDefaultDownload, kAppImage, kAllImage, kFullImage}) {
    uint32_t expected = 0;
    for (int n = 0; n < BlockCount(variant); ++n) {
      ASSERT_EQ(static_cast<uint32_t>(BlockFileOffset(variant, static_cast<uint8_t>(n))), expected)
          << "variant " << int{variant} << " block " << n;
      expected += BlockSize(variant, n);
    }
    EXPECT_EQ(expected, ErasedBlockCount(variant) * kBlockSize) << "variant " << int{variant};
  }
  EXPECT_EQ(BlockCount(kAllImage), 130);
  EXPECT_EQ(ErasedBlockCount(kAllImage), 123u);
  EXPECT_EQ(BlockCount(kFullImage), 142);
  EXPECT_EQ(ErasedBlockCount(kFullImage), 128u);
}

}  // namespace
}  // namespace qv
