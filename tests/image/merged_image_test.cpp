// The merged image as a function of the opened image and its replacements: erased space,
// boot area, large partitions, carried ranges, regions, re-packed small partitions.
#include "image/merged_image.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/support/test_images.h"

namespace qv {
namespace {

using sample::ImageSpec;
using sample::PartitionSpec;

FlashImage Parsed(const ImageSpec& spec) {
  return FlashImage::Parse(sample::BuildFlashImage(spec), spec.variant).value();
}

std::vector<uint8_t> Merged(const FlashImage& image, const Replacements& replacements) {
  Result<std::vector<uint8_t>> merged = BuildMergedImage(image, replacements);
  EXPECT_TRUE(merged) << merged.error().text;
  return merged ? *merged : std::vector<uint8_t>();
}

PartitionDirectory DirectoryOf(std::span<const uint8_t> merged, const VariantLayout& layout) {
  return DecodeDirectoryAt(merged, layout);
}

// A directory of two partitions: "appcode" taking all but `free + 0x30` bytes of the partition
// space, and "boot" of `boot_length` bytes.
PartitionDirectory TwoPartitions(uint32_t free, uint32_t boot_length) {
  PartitionDirectory directory;
  directory.Fill(0);
  directory.entry_count = 2;
  directory.entries[0].SetName("appcode");
  directory.entries[0].second_length = kPartitionSpace - free - 0x30;
  directory.entries[1].SetName("BOOT");
  directory.entries[1].second_length = boot_length;
  return directory;
}

TEST(FreeSpace, RoundingAndTheOverflowTest) {
  EXPECT_EQ(RoundUp16(0), 0u);
  EXPECT_EQ(RoundUp16(0x21), 0x30u);
  EXPECT_EQ(RoundUp16(0x30), 0x30u);
  FlashImage image = Parsed(sample::DefaultImageSpec(kAllImage));
  PartitionEdits edits(image);
  edits.directory() = TwoPartitions(0x100, 0x30);
  EXPECT_EQ(FreePartitionSpace(edits.directory()), 0x100);
  EXPECT_FALSE(edits.ReplacementOverflows(1, 0x130));
  EXPECT_TRUE(edits.ReplacementOverflows(1, 0x131));
  edits.directory() = TwoPartitions(0x100, 0x21);  // counts as 0x30
  EXPECT_EQ(FreePartitionSpace(edits.directory()), 0x100);
  EXPECT_FALSE(edits.ReplacementOverflows(1, 0x130));
  EXPECT_TRUE(edits.ReplacementOverflows(1, 0x131));
  edits.directory() = TwoPartitions(0x20000, 0x30);  // room in the space, but not in a partition
  EXPECT_FALSE(edits.ReplacementOverflows(1, kSlotSize));
  EXPECT_TRUE(edits.ReplacementOverflows(1, kSlotSize + 1));
}

class MergedImage : public ::testing::TestWithParam<Variant> {};

TEST_P(MergedImage, WithoutReplacementsItIsTheImageItself) {
  // Everything the image holds reads back: erased space, boot area, partitions, directory,
  // carried ranges, regions, and the manufacturer block, sealed as it was.
  const ImageSpec spec = sample::DefaultImageSpec(GetParam());
  const std::vector<uint8_t> bytes = sample::BuildFlashImage(spec);
  FlashImage image = Parsed(spec);
  std::vector<uint8_t> merged = Merged(image, Replacements(image));
  EXPECT_EQ(merged.size(), LayoutOf(GetParam())->erased_blocks * 0x10000u);
  EXPECT_TRUE(merged == bytes);
}

TEST_P(MergedImage, RegionsTakeTheirReplacementsAndAnAppImageGrowsToHoldThem) {
  FlashImage image = Parsed(sample::DefaultImageSpec(GetParam()));
  const VariantLayout& layout = image.layout();
  Replacements replacements(image);
  replacements.key_block = std::vector<uint8_t>(kKeyRegionSize, 0x4B);
  std::vector<uint8_t> merged = Merged(image, replacements);
  EXPECT_TRUE(std::all_of(merged.begin() + layout.key_region,
                          merged.begin() + layout.key_region + kKeyRegionSize,
                          [](uint8_t b) { return b == 0x4B; }));
  if (GetParam() == kAppImage) {
    // Past the app image's end: the gap before the region reads as zero bytes.
    EXPECT_EQ(merged.size(), 0x6D0000u);
    EXPECT_TRUE(std::all_of(merged.begin() + 0x660000, merged.begin() + 0x6C0000,
                            [](uint8_t b) { return b == 0; }));
  } else {
    EXPECT_EQ(merged.size(), layout.file_size);
    EXPECT_TRUE(std::equal(merged.begin() + layout.default_region,
                           merged.begin() + layout.default_region + kDefaultRegionSize,
                           image.bytes().begin() + layout.default_region));
  }
  replacements.default_database = std::vector<uint8_t>(kDefaultRegionSize, 0xDB);
  merged = Merged(image, replacements);
  EXPECT_EQ(merged[layout.default_region + kDefaultRegionSize - 1], 0xDB);
  if (GetParam() == kAppImage) {
    EXPECT_EQ(merged.size(), 0x710000u);
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, MergedImage, ::testing::Values(kAppImage, kAllImage, kFullImage),
                         testing::VariantParamName());

class Replace : public ::testing::Test {
 protected:
  Replace() : image_(Parsed(sample::DefaultImageSpec(kAllImage))), edits_(image_) {}
  static std::vector<uint8_t> Still(size_t size, uint8_t fill) {
    return std::vector<uint8_t>(size, fill);
  }
  FlashImage image_;
  PartitionEdits edits_;
};

TEST_F(Replace, ByNameInAnyLetterCaseOrByAppending) {
  edits_.directory().entries[3].SetName("Boot");
  EXPECT_EQ(edits_.Replace("boot.m2v", Still(5000, 0xB0)), ReplaceResult::kReplaced);
  EXPECT_EQ(edits_.directory().entries[3].Length(), 5000u);
  EXPECT_EQ(edits_.Data(3).size(), 5000u);
  EXPECT_EQ(edits_.Data(3)[4999], 0xB0);

  // "menu" uses its first length: the replacement goes there.
  EXPECT_EQ(edits_.Replace("menu.m2v", Still(700, 0x3E)), ReplaceResult::kReplaced);
  EXPECT_EQ(edits_.directory().entries[4].first_length, 700u);

  // Without a "radio" partition the still is appended under its whole file name, and a second
  // replacement in the same job finds that partition instead of appending another.
  edits_.directory().entries[5].SetName("radio_old");
  uint32_t count = edits_.directory().entry_count;
  const auto unused_name = edits_.directory().entries[count].name;
  EXPECT_EQ(edits_.Replace("radio.m2v", Still(3000, 0x5A)), ReplaceResult::kAppended);
  ASSERT_EQ(edits_.directory().entry_count, count + 1);
  const DirectoryEntry& appended = edits_.directory().entries[count];
  EXPECT_EQ(appended.Name(), "radio.m2v");
  // The name and its zero byte are written; the rest of the field keeps the erased bytes.
  EXPECT_EQ(appended.name[9], 0);
  EXPECT_TRUE(
      std::equal(appended.name.begin() + 10, appended.name.end(), unused_name.begin() + 10));
  EXPECT_EQ(unused_name[15], 0xFF);
  EXPECT_EQ(appended.length_selector, 0u);
  EXPECT_EQ(appended.second_length, 3000u);
  EXPECT_EQ(edits_.Data(static_cast<int>(count))[2999], 0x5A);
  EXPECT_EQ(edits_.Replace("radio.m2v", Still(2000, 0x5B)), ReplaceResult::kReplaced);
  EXPECT_EQ(edits_.directory().entry_count, count + 1);
  EXPECT_EQ(edits_.directory().entries[count].second_length, 2000u);
}

TEST_F(Replace, RefusedReplacementsChangeNothing) {
  PartitionDirectory directory = edits_.directory();
  auto unchanged = [&] {
    return edits_.directory().entry_count == directory.entry_count &&
           edits_.directory().entries[3].second_length == directory.entries[3].second_length &&
           edits_.Data(3).data() == image_.Partition(3).data();
  };
  EXPECT_EQ(edits_.Replace("boot.m2v", Still(kSlotSize + 1, 1)), ReplaceResult::kDoesNotFit);
  EXPECT_TRUE(unchanged());

  // Fill the partition space so that only 0x100 bytes remain free.
  edits_.directory().entries[0].second_length +=
      static_cast<uint32_t>(FreePartitionSpace(edits_.directory()) - 0x100);
  directory = edits_.directory();
  uint32_t boot = RoundUp16(edits_.directory().entries[3].Length());
  EXPECT_EQ(edits_.Replace("boot.m2v", Still(boot + 0x101, 2)), ReplaceResult::kDoesNotFit);
  EXPECT_EQ(edits_.Replace("logo.m2v", Still(0x101, 3)), ReplaceResult::kNoRoomToAppend);
  EXPECT_TRUE(unchanged());
  EXPECT_EQ(edits_.Replace("logo.m2v", Still(0x100, 3)), ReplaceResult::kAppended);

  // A full directory has no entry for a new partition.
  edits_.directory() = directory;
  edits_.directory().entries[0].second_length = 0x1000;
  edits_.directory().entry_count = kMaxEntries;
  EXPECT_EQ(edits_.Replace("new.m2v", Still(16, 4)), ReplaceResult::kNoRoomToAppend);
}

TEST_F(Replace, RepackingPlacesSmallPartitionsAfterTheEntryBeforeThem) {
  Replacements replacements(image_);
  ASSERT_EQ(replacements.partitions.Replace("boot.m2v", Still(0x1001, 0x77)),
            ReplaceResult::kReplaced);
  std::vector<uint8_t> merged = Merged(image_, replacements);
  const PartitionDirectory written = DirectoryOf(merged, image_.layout());
  const auto& entries = written.entries;
  uint32_t video_end = entries[2].offset + entries[2].Length();
  EXPECT_EQ(entries[3].offset, RoundUp16(video_end));
  EXPECT_EQ(entries[4].offset, RoundUp16(entries[3].offset + 0x1001));
  EXPECT_EQ(entries[4].offset % 16, 0u);
  EXPECT_EQ(merged[entries[3].offset + 0x1000], 0x77);
  EXPECT_EQ(merged[entries[3].offset + 0x1001], 0xFF);  // the gap stays erased
  EXPECT_EQ(written.entry_count, image_.directory().entry_count);
  // Every partition reads back from where the new directory places it.
  for (int i = 0; i < written.UsableCount(); ++i) {
    std::span<const uint8_t> data = replacements.partitions.Data(i);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), merged.begin() + entries[i].offset)) << i;
  }
}

TEST(Repack, ASmallPartitionFirstInTheDirectoryKeepsItsOffset) {
  ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  std::rotate(spec.partitions.begin(), spec.partitions.begin() + 3,
              spec.partitions.begin() + 4);  // boot first
  spec.partitions[0].offset = 0x600000;
  FlashImage image = Parsed(spec);
  std::vector<uint8_t> merged = Merged(image, Replacements(image));
  EXPECT_EQ(DirectoryOf(merged, image.layout()).entries[0].offset, 0x600000u);
  EXPECT_TRUE(std::equal(spec.partitions[0].data.begin(), spec.partitions[0].data.end(),
                         merged.begin() + 0x600000));
}

TEST(Repack, APartitionThatWouldOverlapALargePartitionFailsTheBuild) {
  // "boot" sits in the gap between "appcode" and "fw_audio"; a larger boot logo would run into
  // the audio firmware once it is placed right after the application code.
  ImageSpec spec = sample::DefaultImageSpec(kFullImage);
  std::rotate(spec.partitions.begin() + 1, spec.partitions.begin() + 3,
              spec.partitions.begin() + 4);
  spec.partitions[0].data.resize(0x280000 - 0x4000);
  spec.partitions[1].offset = {};
  FlashImage image = Parsed(spec);
  Replacements replacements(image);
  ASSERT_EQ(replacements.partitions.Replace("boot.m2v", std::vector<uint8_t>(0x4001, 0x66)),
            ReplaceResult::kReplaced);
  Result<std::vector<uint8_t>> merged = BuildMergedImage(image, replacements);
  ASSERT_FALSE(merged);
  EXPECT_NE(merged.error().text.find("partition \"boot\" (directory entry 1)"), std::string::npos)
      << merged.error().text;
  EXPECT_NE(merged.error().text.find("\"fw_audio\""), std::string::npos) << merged.error().text;
  EXPECT_EQ(merged.error().offset, 0x6AE000 + 64);
}

TEST(Repack, APartitionThatWouldEndPastThePartitionSpaceFailsTheBuild) {
  ImageSpec spec = sample::DefaultImageSpec(kAppImage);
  spec.partitions[2].data.resize(kPartitionSpace - 0x380000 -
                                 0x2000);  // fw_video up to 0x2000 below the end
  spec.partitions.resize(4);               // then only "boot"
  spec.partitions[3].data.resize(0x1000);
  spec.manufacturer.regions.clear();
  FlashImage image = Parsed(spec);
  // The length of a grown logo, set past the replacement's own check: the build checks again.
  Replacements replacements(image);
  replacements.partitions.directory().entries[3].second_length = 0x2001;
  Result<std::vector<uint8_t>> merged = BuildMergedImage(image, replacements);
  ASSERT_FALSE(merged);
  EXPECT_NE(merged.error().text.find("past the partition space"), std::string::npos)
      << merged.error().text;
}

}  // namespace
}  // namespace qv
