#include "image/manufacturer_block.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "download/crc32.h"
#include "image/flash_image.h"
#include "platform/little_endian.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

using sample::ImageSpec;
using sample::RegionSpec;

class ManufacturerBlockTest : public ::testing::Test {
 protected:
  // Builds the image of `spec` and decodes its manufacturer block and manufacturer.cfg lines.
  void Open(const ImageSpec& spec) {
    variant_ = spec.variant;
    image_ = sample::BuildFlashImage(spec);
    block_ = DecodeManufacturerBlockAt(image_, Layout());
    lines_ = ManufacturerCfgLines(block_);
  }
  // The block sealed over `merged` (a copy of which is returned), as Start does last.
  std::vector<uint8_t> Sealed(std::vector<uint8_t> merged) {
    SealManufacturerBlock(block_, Layout(), merged);
    return merged;
  }
  const VariantLayout& Layout() const { return *LayoutOf(variant_); }
  uint32_t BlockOffset() const { return Layout().manufacturer_offset; }
  uint32_t StoredRegionCrc(const std::vector<uint8_t>& image, int i) const {
    return ReadLe32(&image[BlockOffset() + 72 + 13 * i + 9]);
  }

  std::vector<uint8_t> image_;
  Variant variant_ = kAllImage;
  ManufacturerBlock block_{};
  std::array<std::string, kManufacturerCfgLineCount> lines_;
};

TEST_F(ManufacturerBlockTest, CfgLinesByteForByte) {
  Open(sample::DefaultImageSpec(kAllImage));
  const auto& lines = lines_;
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
  ImageSpec spec = sample::DefaultImageSpec(kFullImage);
  spec.manufacturer.ident_nocheck = 200;
  spec.manufacturer.manufacture_ident = "ABCDEFGHIJKLMNO";  // fills all 15 bytes, no zero
  spec.manufacturer.hardware_module = "";
  spec.manufacturer.stb_id = 0xFEDCBA9876543210ull;
  Open(spec);
  const auto& lines = lines_;
  EXPECT_EQ(lines[2], "IDENT_NOCHECH\t \t= 200\t        \t1");
  EXPECT_EQ(lines[3], "MANUFACTURE_IDENT \t= ABCDEFGHIJKLMNO\t\t\t15");
  EXPECT_EQ(lines[4], "HARDWARE_MODULE \t=           \t8");
  EXPECT_EQ(lines[8], "STB_ID\t\t\t= 0xFEDCBA9876543210\t8");

  spec.manufacturer.ident_nocheck = 0;
  spec.manufacturer.manufacture_ident = "ABC";
  Open(spec);
  EXPECT_EQ(lines_[2], "IDENT_NOCHECH\t \t= 0\t        \t1");
  EXPECT_EQ(lines_[3], "MANUFACTURE_IDENT \t= ABC\t\t\t15");
}

TEST_F(ManufacturerBlockTest, ReadingDecodesEveryFieldAndAlwaysOneHundredThirtyRecords) {
  ImageSpec spec = sample::DefaultImageSpec(kAppImage);
  spec.manufacturer.region_count = 3;
  Open(spec);
  const ManufacturerBlock& block = block_;
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
    Open(sample::DefaultImageSpec(variant));
    EXPECT_TRUE(Sealed(image_) == image_) << "variant " << int{variant};
  }
}

TEST_F(ManufacturerBlockTest, CheckedRegionsGetTheCrcOfTheMergedBytesOthersKeepTheirs) {
  ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions = {
      RegionSpec{1, 0xA0060000, 0x100, 1, 0x11111111},  // file offset 0x10000
      RegionSpec{2, 0xA0060000, 0x100, 2, 0x22222222},  // carried
      RegionSpec{3, 0xA0060000, 0x100, 0, 0x33333333},  // carried
  };
  Open(spec);
  std::vector<uint8_t> merged = image_;
  std::fill_n(merged.begin() + 0x10000, 0x100, 0xAB);
  std::vector<uint8_t> written = Sealed(merged);
  EXPECT_EQ(StoredRegionCrc(written, 0), Crc32(&merged[0x10000], 0x100));
  EXPECT_EQ(StoredRegionCrc(written, 1), 0x22222222u);
  EXPECT_EQ(StoredRegionCrc(written, 2), 0x33333333u);
  EXPECT_EQ(ReadLe32(&written[BlockOffset() + 4092]), Crc32(&written[BlockOffset()], 4092));
  EXPECT_EQ(block_.regions[0].crc, Crc32(&merged[0x10000], 0x100));
}

TEST_F(ManufacturerBlockTest, RegionAddressesDependOnTheVariant) {
  ImageSpec spec = sample::DefaultImageSpec(kFullImage);
  spec.manufacturer.regions = {RegionSpec{1, 0xA0060000, 0x80, 1, 0}};
  Open(spec);
  EXPECT_EQ(StoredRegionCrc(Sealed(image_), 0), Crc32(&image_[0x60000], 0x80));
}

TEST_F(ManufacturerBlockTest, RegionCountZeroLeavesEveryCrc) {
  ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions = {RegionSpec{1, 0xA0060000, 0x100, 1, 0xDEADBEEF}};
  spec.manufacturer.region_count = 0;
  Open(spec);
  EXPECT_EQ(StoredRegionCrc(Sealed(image_), 0), 0xDEADBEEFu);
}

TEST_F(ManufacturerBlockTest, LongRegionsAreCheckedOverTheirWholeLength) {
  ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions = {RegionSpec{1, 0xA0050000, 0x250001, 1, 0}};
  Open(spec);
  EXPECT_EQ(StoredRegionCrc(Sealed(image_), 0), Crc32(&image_[0], 0x250001));
}

TEST_F(ManufacturerBlockTest, BytesOutsideTheFileCountAsErased) {
  ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions = {RegionSpec{1, 0xA0050000 + 0x7B0000 - 0x10, 0x20, 1, 0},
                               RegionSpec{2, 0xA0000000, 0x20, 1, 0}};
  Open(spec);
  std::vector<uint8_t> expected(image_.end() - 0x10, image_.end());
  expected.resize(0x20, 0xFF);
  std::vector<uint8_t> written = Sealed(image_);
  EXPECT_EQ(written.size(), image_.size());
  EXPECT_EQ(StoredRegionCrc(written, 0), Crc32(expected.data(), 0x20));
  std::vector<uint8_t> erased(0x20, 0xFF);
  EXPECT_EQ(StoredRegionCrc(written, 1), Crc32(erased.data(), 0x20));
}

TEST_F(ManufacturerBlockTest, RegionCountAboveOneHundredThirtyChecksTheRecordsThatExist) {
  ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions.assign(130, RegionSpec{1, 0xA0050000, 0x40, 1, 0});
  spec.manufacturer.region_count = 200;
  Open(spec);
  EXPECT_EQ(block_.CheckedRegionCount(), 130);
  std::vector<uint8_t> written = Sealed(image_);
  EXPECT_EQ(StoredRegionCrc(written, 129), Crc32(&image_[0], 0x40));
  EXPECT_EQ(written[BlockOffset() + 57], 200);
}

TEST_F(ManufacturerBlockTest, TheUnreadTailKeepsWhatTheFileHoldsAndTheBlockCrcCoversIt) {
  Open(sample::DefaultImageSpec(kAllImage));
  std::vector<uint8_t> merged = image_;
  std::fill_n(merged.begin() + BlockOffset() + 1762, 4092 - 1762, 0x00);
  std::vector<uint8_t> written = Sealed(merged);
  EXPECT_EQ(written[BlockOffset() + 2000], 0x00);
  EXPECT_EQ(ReadLe32(&written[BlockOffset() + 4092]), Crc32(&written[BlockOffset()], 4092));
}

TEST_F(ManufacturerBlockTest, AnUnrecognisedVariantIsNoImageToSeal) {
  Open(sample::DefaultImageSpec(kAllImage));
  Result<FlashImage> image = FlashImage::Parse(image_, kDefaultDownload);
  ASSERT_FALSE(image);
  EXPECT_EQ(image.error().text, "image variant 1 is not a flash image variant");
}

}  // namespace
}  // namespace qv
