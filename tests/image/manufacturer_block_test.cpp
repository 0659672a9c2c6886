#include "image/manufacturer_block.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "app/job_state.h"
#include "download/crc32.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"

namespace qv {
namespace {

using testing::ImageSpec;
using testing::RegionSpec;

class ManufacturerBlockTest : public ::testing::Test {
 protected:
  // Builds the image of `spec`, writes it and reads its manufacturer block into the job.
  void Open(const ImageSpec& spec) {
    variant_ = spec.variant;
    image_ = testing::BuildFlashImage(spec);
    path_ = dir_.File("image.bin");
    WriteWholeFile(path_, image_);
    job_.partition_count = PartitionCountOfVariant(spec.variant);
    ReadManufacturerBlock(job_, path_);
    BuildManufacturerCfgLines(job_);
  }
  uint32_t BlockOffset() const { return LayoutOf(variant_)->manufacturer_offset; }
  uint32_t StoredRegionCrc(const std::vector<uint8_t>& image, int i) const {
    return ReadLe32(&image[BlockOffset() + 72 + 13 * i + 9]);
  }

  testing::TempDir dir_;
  std::string path_;
  std::vector<uint8_t> image_;
  Variant variant_ = kAllImage;
  JobState job_;
};

TEST_F(ManufacturerBlockTest, CfgLinesByteForByte) {
  Open(testing::DefaultImageSpec(kAllImage));
  const auto& lines = job_.manufacturer_cfg_lines;
  EXPECT_EQ(lines[0], "[Manufacturer_Data]");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "IDENT_NOCHECH\t \t= 1\t        \t1");
  EXPECT_EQ(lines[3], "MANUFACTURE_IDENT \t= QUORVANE-LABS\t\t\t15");
  EXPECT_EQ(lines[4], "HARDWARE_MODULE \t= STI7100          \t8");
  EXPECT_EQ(lines[5], "HARDWARE_VERSION \t= HW1.20         \t\t8");
  EXPECT_EQ(lines[6], "SOFTWARE_MODULE \t= QVBOX            \t8");
  EXPECT_EQ(lines[7], "SOFTWARE_VERSION \t= SW2.0.7        \t8");
  EXPECT_EQ(lines[8], "STB_ID\t\t\t= 0x0000000000020003\t8");
}

TEST_F(ManufacturerBlockTest, CfgLineEdgeValues) {
  ImageSpec spec = testing::DefaultImageSpec(kFullImage);
  spec.manufacturer.ident_nocheck = 200;
  spec.manufacturer.manufacture_ident = "ABCDEFGHIJKLMNO";  // fills all 15 bytes, no zero
  spec.manufacturer.hardware_module = "";
  spec.manufacturer.stb_id = 0xFEDCBA9876543210ull;
  Open(spec);
  const auto& lines = job_.manufacturer_cfg_lines;
  EXPECT_EQ(lines[2], "IDENT_NOCHECH\t \t= 200\t        \t1");
  EXPECT_EQ(lines[3], "MANUFACTURE_IDENT \t= ABCDEFGHIJKLMNO\t\t\t15");
  EXPECT_EQ(lines[4], "HARDWARE_MODULE \t=           \t8");
  EXPECT_EQ(lines[8], "STB_ID\t\t\t= 0xFEDCBA9876543210\t8");

  spec.manufacturer.ident_nocheck = 0;
  spec.manufacturer.manufacture_ident = "ABC";
  Open(spec);
  EXPECT_EQ(job_.manufacturer_cfg_lines[2], "IDENT_NOCHECH\t \t= 0\t        \t1");
  EXPECT_EQ(job_.manufacturer_cfg_lines[3], "MANUFACTURE_IDENT \t= ABC\t\t\t15");
}

TEST_F(ManufacturerBlockTest, ReadingDecodesEveryFieldAndAlwaysOneHundredThirtyRecords) {
  ImageSpec spec = testing::DefaultImageSpec(kAppImage);
  spec.manufacturer.region_count = 3;
  Open(spec);
  const ManufacturerBlock& block = job_.manufacturer;
  EXPECT_EQ(block.region_count, 3);
  EXPECT_EQ(block.byte56, 9);
  EXPECT_EQ(block.byte61, 2);
  EXPECT_EQ(block.eight_bytes[0], 0x8F);
  EXPECT_EQ(block.regions[4].tag, 5);  // past the count, still read
  EXPECT_EQ(block.regions[4].crc, 0x12345678u);
  EXPECT_EQ(block.regions[129].tag, 0xFF);
  EXPECT_EQ(block.regions[130].tag, 0);
  EXPECT_EQ(block.regions[141].crc, 0u);
  EXPECT_EQ(block.block_crc, Crc32(&image_[BlockOffset()], 4092));
}

TEST_F(ManufacturerBlockTest, WritingAnUnchangedImageGivesTheSameBlock) {
  for (Variant variant : {kAppImage, kAllImage, kFullImage}) {
    Open(testing::DefaultImageSpec(variant));
    ASSERT_TRUE(WriteManufacturerBlock(job_, path_));
    EXPECT_TRUE(ReadWholeFile(path_) == image_) << "variant " << int{variant};
  }
}

TEST_F(ManufacturerBlockTest, CheckedRegionsGetTheCrcOfTheMergedBytesOthersKeepTheirs) {
  ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions = {
      RegionSpec{1, 0xA0060000, 0x100, 1, 0x11111111},  // file offset 0x10000
      RegionSpec{2, 0xA0060000, 0x100, 2, 0x22222222},  // carried
      RegionSpec{3, 0xA0060000, 0x100, 0, 0x33333333},  // carried
  };
  Open(spec);
  std::vector<uint8_t> merged = image_;
  std::fill_n(merged.begin() + 0x10000, 0x100, 0xAB);
  WriteWholeFile(path_, merged);
  ASSERT_TRUE(WriteManufacturerBlock(job_, path_));
  std::vector<uint8_t> written = ReadWholeFile(path_);
  EXPECT_EQ(StoredRegionCrc(written, 0), Crc32(&merged[0x10000], 0x100));
  EXPECT_EQ(StoredRegionCrc(written, 1), 0x22222222u);
  EXPECT_EQ(StoredRegionCrc(written, 2), 0x33333333u);
  EXPECT_EQ(ReadLe32(&written[BlockOffset() + 4092]), Crc32(&written[BlockOffset()], 4092));
  EXPECT_EQ(job_.manufacturer.regions[0].crc, Crc32(&merged[0x10000], 0x100));
}

TEST_F(ManufacturerBlockTest, RegionAddressesDependOnTheVariant) {
  ImageSpec spec = testing::DefaultImageSpec(kFullImage);
  spec.manufacturer.regions = {RegionSpec{1, 0xA0060000, 0x80, 1, 0}};
  Open(spec);
  ASSERT_TRUE(WriteManufacturerBlock(job_, path_));
  EXPECT_EQ(StoredRegionCrc(ReadWholeFile(path_), 0), Crc32(&image_[0x60000], 0x80));
}

TEST_F(ManufacturerBlockTest, RegionCountZeroLeavesEveryCrc) {
  ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions = {RegionSpec{1, 0xA0060000, 0x100, 1, 0xDEADBEEF}};
  spec.manufacturer.region_count = 0;
  Open(spec);
  ASSERT_TRUE(WriteManufacturerBlock(job_, path_));
  EXPECT_EQ(StoredRegionCrc(ReadWholeFile(path_), 0), 0xDEADBEEFu);
}

TEST_F(ManufacturerBlockTest, LongRegionsAreCheckedOverTheirWholeLength) {
  ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions = {RegionSpec{1, 0xA0050000, 0x250001, 1, 0}};
  Open(spec);
  ASSERT_TRUE(WriteManufacturerBlock(job_, path_));
  EXPECT_EQ(StoredRegionCrc(ReadWholeFile(path_), 0), Crc32(&image_[0], 0x250001));
}

TEST_F(ManufacturerBlockTest, BytesOutsideTheFileCountAsErased) {
  ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions = {RegionSpec{1, 0xA0050000 + 0x7B0000 - 0x10, 0x20, 1, 0},
                               RegionSpec{2, 0xA0000000, 0x20, 1, 0}};
  Open(spec);
  ASSERT_TRUE(WriteManufacturerBlock(job_, path_));
  std::vector<uint8_t> expected(image_.end() - 0x10, image_.end());
  expected.resize(0x20, 0xFF);
  std::vector<uint8_t> written = ReadWholeFile(path_);
  EXPECT_EQ(written.size(), image_.size());
  EXPECT_EQ(StoredRegionCrc(written, 0), Crc32(expected.data(), 0x20));
  std::vector<uint8_t> erased(0x20, 0xFF);
  EXPECT_EQ(StoredRegionCrc(written, 1), Crc32(erased.data(), 0x20));
}

TEST_F(ManufacturerBlockTest, RegionCountAboveOneHundredThirtyChecksTheRecordsThatExist) {
  ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions.assign(130, RegionSpec{1, 0xA0050000, 0x40, 1, 0});
  spec.manufacturer.region_count = 200;
  Open(spec);
  EXPECT_EQ(job_.manufacturer.CheckedRegionCount(), 130);
  ASSERT_TRUE(WriteManufacturerBlock(job_, path_));
  std::vector<uint8_t> written = ReadWholeFile(path_);
  EXPECT_EQ(StoredRegionCrc(written, 129), Crc32(&image_[0], 0x40));
  EXPECT_EQ(written[BlockOffset() + 57], 200);
}

TEST_F(ManufacturerBlockTest, TheUnreadTailKeepsWhatTheFileHoldsAndTheBlockCrcCoversIt) {
  Open(testing::DefaultImageSpec(kAllImage));
  std::vector<uint8_t> merged = image_;
  std::fill_n(merged.begin() + BlockOffset() + 1762, 4092 - 1762, 0x00);
  WriteWholeFile(path_, merged);
  ASSERT_TRUE(WriteManufacturerBlock(job_, path_));
  std::vector<uint8_t> written = ReadWholeFile(path_);
  EXPECT_EQ(written[BlockOffset() + 2000], 0x00);
  EXPECT_EQ(ReadLe32(&written[BlockOffset() + 4092]), Crc32(&written[BlockOffset()], 4092));
}

TEST_F(ManufacturerBlockTest, UnrecognisedVariantWritesNothing) {
  Open(testing::DefaultImageSpec(kAllImage));
  job_.partition_count = 4;
  EXPECT_FALSE(WriteManufacturerBlock(job_, path_));
  EXPECT_TRUE(ReadWholeFile(path_) == image_);
}

}  // namespace
}  // namespace qv
