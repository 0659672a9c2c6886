// Builds complete merged images the way Start does, and parses them back as an opened image.
#include <gtest/gtest.h>

#include "download/crc32.h"
#include "image/manufacturer_block.h"
#include "image/merged_image.h"
#include "image/settings.h"
#include "platform/file.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

class MergeRoundTrip : public ::testing::TestWithParam<Variant> {
 protected:
  MergeRoundTrip()
      : bytes_(sample::BuildFlashImage(sample::DefaultImageSpec(GetParam()))),
        image_(FlashImage::Parse(bytes_, GetParam()).value()) {}
  const VariantLayout& layout() const { return *LayoutOf(GetParam()); }

  std::vector<uint8_t> bytes_;
  FlashImage image_;
};

TEST_P(MergeRoundTrip, WithoutChangesTheMergedImageIsTheImage) {
  Result<std::vector<uint8_t>> merged = BuildMergedImage(image_, Replacements(image_));
  ASSERT_TRUE(merged);
  EXPECT_TRUE(*merged == bytes_);
}

TEST_P(MergeRoundTrip, ReplacedLogoAndEditedSettingsReadBack) {
  Replacements replacements(image_);
  std::vector<uint8_t> still = sample::RandomBytes(23457, 99);
  ASSERT_EQ(replacements.partitions.Replace("boot.m2v", still), ReplaceResult::kReplaced);
  const HttpSettings http = {"http://manual.example/",
                             "http://auto.example/",
                             "a.dld",
                             "b.dld",
                             "c.dld",
                             "d_default.dld",
                             "e_key.dld"};
  ASSERT_TRUE(replacements.partitions.StoreModelId("QV-NEW-1"));
  const std::string ini = WriteHttpSettings(sample::SampleHttpCfg(), http);
  ASSERT_TRUE(replacements.partitions.StoreHttpCfg(BytesOf(ini)));
  Result<std::vector<uint8_t>> built = BuildMergedImage(image_, replacements);
  ASSERT_TRUE(built);
  const std::vector<uint8_t> merged = *built;

  // Read the merged image as an opened image.
  Result<FlashImage> again = FlashImage::Parse(merged, GetParam());
  ASSERT_TRUE(again) << again.error().text;
  sample::ImageSpec spec = sample::DefaultImageSpec(GetParam());
  ASSERT_EQ(again->directory().entry_count, spec.partitions.size());
  for (size_t i = 0; i < spec.partitions.size(); ++i) {
    const DirectoryEntry& entry = again->directory().entries[i];
    EXPECT_EQ(entry.offset % 16, 0u);
    std::span<const uint8_t> data = again->Partition(static_cast<int>(i));
    const std::string name = entry.Name();
    if (name == "boot") {
      EXPECT_TRUE(std::equal(data.begin(), data.end(), still.begin(), still.end()));
    } else if (name == "modelid") {
      EXPECT_EQ(std::string(data.begin(), data.end()), "QV-NEW-1");
    } else if (name == "httpcfg") {
      std::string text(data.begin(), data.end());
      EXPECT_EQ(ReadHttpSettings(text), http);
      EXPECT_NE(text.find("RetryCount=3"), std::string::npos);
    } else {
      const std::vector<uint8_t>& original = spec.partitions[i].data;
      EXPECT_TRUE(std::equal(data.begin(), data.end(), original.begin(), original.end())) << name;
    }
  }
  EXPECT_EQ(again->ModelId(), "QV-NEW-1");

  // Every checked region's CRC and the block CRC hold over the merged bytes.
  const ManufacturerBlock& block = again->manufacturer();
  for (int i = 0; i < block.CheckedRegionCount(); ++i) {
    if (block.regions[i].check_flag == 1) {
      EXPECT_EQ(block.regions[i].crc, RegionCrcInImage(merged, layout(), block.regions[i]))
          << "region " << i;
    }
  }
  EXPECT_EQ(block.block_crc, Crc32(&merged[layout().manufacturer_offset], 4092));
  for (const FileRange& range : PreservedRanges(layout())) {
    EXPECT_TRUE(std::equal(merged.begin() + range.offset,
                           merged.begin() + range.offset + range.length,
                           bytes_.begin() + range.offset));
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, MergeRoundTrip,
                         ::testing::Values(kAppImage, kAllImage, kFullImage),
                         testing::VariantParamName());

}  // namespace
}  // namespace qv
