// Builds complete merged images the way Start does, and reads them back with the readers
// that opening an image uses.
#include <gtest/gtest.h>

#include "download/crc32.h"
#include "image/manufacturer_block.h"
#include "image/merged_image.h"
#include "image/partitions.h"
#include "image/settings.h"
#include "platform/file.h"
#include "platform/ini_profile.h"
#include "tests/support/opened_job.h"

namespace qv {
namespace {

class MergeRoundTrip : public ::testing::TestWithParam<Variant> {
 protected:
  void SetUp() override {
    opened_.Open(testing::DefaultImageSpec(GetParam()));
    ExtractHttpCfg(job());
    LoadHttpSettings(job());
  }
  JobState& job() { return opened_.job(); }
  const VariantLayout& layout() const { return *LayoutOf(GetParam()); }

  // The merged image's key and default database regions, carried over from the working
  // image as Start does when no replacement was chosen.
  void CarryKeyAndDatabase() {
    if (GetParam() == kAppImage) return;
    std::vector<uint8_t> merged = ReadWholeFile(job().merged_image_path);
    const std::vector<uint8_t>& image = opened_.image();
    std::copy_n(image.begin() + layout().key_region, kKeyRegionSize,
                merged.begin() + layout().key_region);
    std::copy_n(image.begin() + layout().default_region, kDefaultRegionSize,
                merged.begin() + layout().default_region);
    WriteWholeFile(job().merged_image_path, merged);
  }

  void Finish() {
    ASSERT_TRUE(WritePartitionsAndDirectory(job(), job().merged_image_path));
    ASSERT_TRUE(WriteManufacturerBlock(job(), job().merged_image_path));
  }

  testing::OpenedJob opened_;
};

TEST_P(MergeRoundTrip, WithoutChangesTheMergedImageIsTheImage) {
  ASSERT_TRUE(BuildMergedImage(job(), job().merged_image_path));
  CarryKeyAndDatabase();
  Finish();
  EXPECT_TRUE(ReadWholeFile(job().merged_image_path) == opened_.image());
}

TEST_P(MergeRoundTrip, ReplacedLogoAndEditedSettingsReadBack) {
  ASSERT_TRUE(BuildMergedImage(job(), job().merged_image_path));
  CarryKeyAndDatabase();
  std::vector<uint8_t> still = testing::RandomBytes(23457, 99);
  WriteWholeFile(opened_.File("boot.m2v"), still);
  ASSERT_EQ(ReplacePartition(job(), opened_.File("boot.m2v"), 23457, "boot.m2v"),
            ReplaceResult::kReplaced);
  const std::array<std::string, 8> edits = {"QV-NEW-1",
                                            "http://manual.example/",
                                            "http://auto.example/",
                                            "a.dld",
                                            "b.dld",
                                            "c.dld",
                                            "d_default.dld",
                                            "e_key.dld"};
  for (int kind = 0; kind < 8; ++kind)
    ASSERT_TRUE(StoreSetting(job(), kind, edits[kind]));
  Finish();

  // Read the merged image as an opened image.
  testing::OpenedJob reopened;
  std::vector<uint8_t> merged = ReadWholeFile(job().merged_image_path);
  reopened.Open(GetParam(), merged);
  JobState& again = reopened.job();
  EXPECT_FALSE(FindDirectoryProblem(again, static_cast<int64_t>(merged.size())));
  testing::ImageSpec spec = testing::DefaultImageSpec(GetParam());
  ASSERT_EQ(again.directory.entry_count, spec.partitions.size());
  for (size_t i = 0; i < spec.partitions.size(); ++i) {
    const DirectoryEntry& entry = again.directory.entries[i];
    EXPECT_EQ(entry.offset % 16, 0u);
    std::span<const uint8_t> data =
        PartitionBuffer(again, static_cast<int>(i)).first(entry.Length());
    const std::string name = entry.Name();
    if (name == "boot") {
      EXPECT_TRUE(std::equal(data.begin(), data.end(), still.begin(), still.end()));
    } else if (name == "modelid") {
      EXPECT_EQ(std::string(data.begin(), data.end()), "QV-NEW-1");
    } else if (name == "httpcfg") {
      std::string text(data.begin(), data.end());
      for (int kind = 1; kind < 8; ++kind) {
        const HttpSettingKey& key = kHttpSettingKeys[kind - 1];
        EXPECT_EQ(ReadProfileString(text, key.section, key.key), edits[kind]);
      }
      EXPECT_NE(text.find("RetryCount=3"), std::string::npos);
    } else {
      const std::vector<uint8_t>& original = spec.partitions[i].data;
      EXPECT_TRUE(std::equal(data.begin(), data.end(), original.begin(), original.end())) << name;
    }
  }
  EXPECT_EQ(ReadModelId(again, reopened.image_path()), "QV-NEW-1");

  // Every checked region's CRC and the block CRC hold over the merged bytes.
  File file = File::Open(job().merged_image_path, File::Mode::kRead);
  const ManufacturerBlock& block = again.manufacturer;
  for (int i = 0; i < block.CheckedRegionCount(); ++i) {
    if (block.regions[i].check_flag == 1) {
      EXPECT_EQ(block.regions[i].crc, RegionCrcInImage(file, layout(), block.regions[i]))
          << "region " << i;
    }
  }
  EXPECT_EQ(block.block_crc, Crc32(&merged[layout().manufacturer_offset], 4092));
  for (int i = 0; i < layout().preserved_count; ++i) {
    const FileRange& range = layout().preserved[i];
    EXPECT_TRUE(std::equal(merged.begin() + range.offset,
                           merged.begin() + range.offset + range.length,
                           opened_.image().begin() + range.offset));
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, MergeRoundTrip,
                         ::testing::Values(kAppImage, kAllImage, kFullImage),
                         testing::VariantParamName());

}  // namespace
}  // namespace qv
