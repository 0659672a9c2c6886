#include "image/merged_image.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image/partitions.h"
#include "platform/file.h"
#include "tests/support/opened_job.h"

namespace qv {
namespace {

using testing::ImageSpec;
using testing::PartitionSpec;

bool AllErased(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

// A directory of two partitions in an otherwise empty job: "appcode" taking all but
// `free + 0x30` bytes of the partition space, and "boot" of `boot_length` bytes.
void TwoPartitions(JobState& job, uint32_t free, uint32_t boot_length) {
  job.partition_count = 130;
  job.directory.Fill(0);
  job.directory.entry_count = 2;
  job.directory.entries[0].SetName("appcode");
  job.directory.entries[0].second_length = kPartitionSpace - free - 0x30;
  job.directory.entries[1].SetName("BOOT");
  job.directory.entries[1].second_length = boot_length;
}

TEST(FreeSpace, RoundingAndTheOverflowTest) {
  EXPECT_EQ(RoundUp16(0), 0u);
  EXPECT_EQ(RoundUp16(0x21), 0x30u);
  EXPECT_EQ(RoundUp16(0x30), 0x30u);
  auto job = std::make_unique<JobState>();
  TwoPartitions(*job, 0x100, 0x30);
  EXPECT_EQ(FreePartitionSpace(*job), 0x100);
  EXPECT_FALSE(ReplacementOverflows(*job, 1, 0x130));
  EXPECT_TRUE(ReplacementOverflows(*job, 1, 0x131));
  TwoPartitions(*job, 0x100, 0x21);  // counts as 0x30
  EXPECT_EQ(FreePartitionSpace(*job), 0x100);
  EXPECT_FALSE(ReplacementOverflows(*job, 1, 0x130));
  EXPECT_TRUE(ReplacementOverflows(*job, 1, 0x131));
  TwoPartitions(*job, 0x20000, 0x30);  // room in the space, but not in a slot
  EXPECT_FALSE(ReplacementOverflows(*job, 1, kSlotSize));
  EXPECT_TRUE(ReplacementOverflows(*job, 1, kSlotSize + 1));
}

class MergedImage : public ::testing::TestWithParam<Variant> {
 protected:
  testing::OpenedJob opened_;
  JobState& job() { return opened_.job(); }
  std::string Merged() { return job().merged_image_path; }
};

TEST_P(MergedImage, BuildWritesErasedBlocksLargePartitionsAndCarriedRanges) {
  opened_.Open(testing::DefaultImageSpec(GetParam()));
  const VariantLayout& layout = *LayoutOf(GetParam());
  ASSERT_TRUE(BuildMergedImage(job(), Merged()));
  std::vector<uint8_t> merged = ReadWholeFile(Merged());
  const std::vector<uint8_t>& image = opened_.image();
  ASSERT_EQ(merged.size(), layout.erased_blocks * 0x10000u);

  if (GetParam() == kFullImage) {
    EXPECT_TRUE(std::equal(merged.begin(), merged.begin() + 0x50000, image.begin()));
  }
  for (int i = 0; i < 3; ++i) {  // appcode, fw_audio, fw_video
    const DirectoryEntry& entry = job().directory.entries[i];
    size_t at = layout.area_base + entry.offset;
    EXPECT_TRUE(
        std::equal(merged.begin() + at, merged.begin() + at + entry.Length(), image.begin() + at));
  }
  const DirectoryEntry& boot = job().directory.entries[3];
  EXPECT_TRUE(AllErased(std::span(merged).subspan(layout.area_base + boot.offset, boot.Length())));
  for (int i = 0; i < layout.preserved_count; ++i) {
    const FileRange& range = layout.preserved[i];
    EXPECT_TRUE(std::equal(merged.begin() + range.offset,
                           merged.begin() + range.offset + range.length,
                           image.begin() + range.offset));
  }
  if (GetParam() != kAppImage) {
    EXPECT_EQ(merged.back(), image.back());
    EXPECT_TRUE(AllErased(std::span(merged).subspan(layout.key_region, 0x10000)));
  }
}

TEST_P(MergedImage, ReplacingAndRepackingWithoutChangesGivesBackTheImagesPartitions) {
  opened_.Open(testing::DefaultImageSpec(GetParam()));
  ASSERT_TRUE(BuildMergedImage(job(), Merged()));
  ASSERT_TRUE(WritePartitionsAndDirectory(job(), Merged()));
  std::vector<uint8_t> merged = ReadWholeFile(Merged());
  const VariantLayout& layout = *LayoutOf(GetParam());
  const std::vector<uint8_t>& image = opened_.image();
  // Everything up to the manufacturer block, the directory included, is as it was.
  EXPECT_TRUE(
      std::equal(merged.begin(), merged.begin() + layout.manufacturer_offset, image.begin()));
}

INSTANTIATE_TEST_SUITE_P(Variants, MergedImage, ::testing::Values(kAppImage, kAllImage, kFullImage),
                         testing::VariantParamName());

class Replace : public ::testing::Test {
 protected:
  void SetUp() override { opened_.Open(testing::DefaultImageSpec(kAllImage)); }
  std::string Still(const std::string& name, size_t size, uint8_t fill) {
    std::string path = opened_.File(name);
    WriteWholeFile(path, std::vector<uint8_t>(size, fill));
    return path;
  }
  JobState& job() { return opened_.job(); }
  testing::OpenedJob opened_;
};

TEST_F(Replace, ByNameInAnyLetterCaseOrByAppending) {
  job().directory.entries[3].SetName("Boot");
  EXPECT_EQ(ReplacePartition(job(), Still("boot.m2v", 5000, 0xB0), 5000, "boot.m2v"),
            ReplaceResult::kReplaced);
  EXPECT_EQ(job().directory.entries[3].Length(), 5000u);
  EXPECT_TRUE(AllErased(job().Slot(3).subspan(5000)));
  EXPECT_EQ(job().Slot(3)[4999], 0xB0);

  // "menu" uses its first length: the replacement goes there.
  EXPECT_EQ(ReplacePartition(job(), Still("menu.m2v", 700, 0x3E), 700, "menu.m2v"),
            ReplaceResult::kReplaced);
  EXPECT_EQ(job().directory.entries[4].first_length, 700u);

  // Without a "radio" partition the still is appended under its whole file name, and a second
  // replacement in the same job finds that partition instead of appending another.
  job().directory.entries[5].SetName("radio_old");
  uint32_t count = job().directory.entry_count;
  const auto unused_name = job().directory.entries[count].name;
  EXPECT_EQ(ReplacePartition(job(), Still("radio.m2v", 3000, 0x5A), 3000, "radio.m2v"),
            ReplaceResult::kAppended);
  ASSERT_EQ(job().directory.entry_count, count + 1);
  const DirectoryEntry& appended = job().directory.entries[count];
  EXPECT_EQ(appended.Name(), "radio.m2v");
  // The name and its zero byte are written; the rest of the field keeps the erased bytes.
  EXPECT_EQ(appended.name[9], 0);
  EXPECT_TRUE(
      std::equal(appended.name.begin() + 10, appended.name.end(), unused_name.begin() + 10));
  EXPECT_EQ(unused_name[15], 0xFF);
  EXPECT_EQ(appended.length_selector, 0u);
  EXPECT_EQ(appended.second_length, 3000u);
  EXPECT_EQ(job().Slot(count)[2999], 0x5A);
  EXPECT_EQ(ReplacePartition(job(), Still("radio.m2v", 2000, 0x5B), 2000, "radio.m2v"),
            ReplaceResult::kReplaced);
  EXPECT_EQ(job().directory.entry_count, count + 1);
  EXPECT_EQ(job().directory.entries[count].second_length, 2000u);
}

TEST_F(Replace, RefusedReplacementsChangeNothing) {
  std::vector<uint8_t> slots = job().slots;
  PartitionDirectory directory = job().directory;
  auto unchanged = [&] {
    return job().slots == slots && job().directory.entry_count == directory.entry_count &&
           job().directory.entries[3].second_length == directory.entries[3].second_length;
  };
  EXPECT_EQ(ReplacePartition(job(), Still("boot.m2v", kSlotSize + 1, 1), kSlotSize + 1, "boot.m2v"),
            ReplaceResult::kDoesNotFit);
  EXPECT_TRUE(unchanged());

  // Fill the partition space so that only 0x100 bytes remain free.
  job().directory.entries[0].second_length +=
      static_cast<uint32_t>(FreePartitionSpace(job()) - 0x100);
  directory = job().directory;
  uint32_t boot = RoundUp16(job().directory.entries[3].Length());
  EXPECT_EQ(ReplacePartition(job(), Still("boot.m2v", boot + 0x101, 2), boot + 0x101, "boot.m2v"),
            ReplaceResult::kDoesNotFit);
  EXPECT_EQ(ReplacePartition(job(), Still("logo.m2v", 0x101, 3), 0x101, "logo.m2v"),
            ReplaceResult::kNoRoomToAppend);
  EXPECT_TRUE(unchanged());
  EXPECT_EQ(ReplacePartition(job(), Still("logo.m2v", 0x100, 3), 0x100, "logo.m2v"),
            ReplaceResult::kAppended);

  // A full directory has no entry for a new partition.
  job().directory = directory;
  job().directory.entries[0].second_length = 0x1000;
  job().directory.entry_count = kMaxEntries;
  EXPECT_EQ(ReplacePartition(job(), Still("new.m2v", 16, 4), 16, "new.m2v"),
            ReplaceResult::kNoRoomToAppend);
}

TEST_F(Replace, RepackingPlacesSmallPartitionsAfterTheEntryBeforeThem) {
  ASSERT_TRUE(BuildMergedImage(job(), job().merged_image_path));
  ASSERT_EQ(ReplacePartition(job(), Still("boot.m2v", 0x1001, 0x77), 0x1001, "boot.m2v"),
            ReplaceResult::kReplaced);
  ASSERT_TRUE(WritePartitionsAndDirectory(job(), job().merged_image_path));
  const auto& entries = job().directory.entries;
  uint32_t video_end = entries[2].offset + entries[2].Length();
  EXPECT_EQ(entries[3].offset, RoundUp16(video_end));
  EXPECT_EQ(entries[4].offset, RoundUp16(entries[3].offset + 0x1001));
  EXPECT_EQ(entries[4].offset % 16, 0u);
  std::vector<uint8_t> merged = ReadWholeFile(job().merged_image_path);
  EXPECT_EQ(merged[entries[3].offset + 0x1000], 0x77);
  EXPECT_EQ(merged[entries[3].offset + 0x1001], 0xFF);  // the gap stays erased
  PartitionDirectory written;
  written.Decode(std::span<const uint8_t, kDirectorySize>(&merged[0x65E000], kDirectorySize));
  EXPECT_EQ(written.entries[4].offset, entries[4].offset);
  EXPECT_EQ(written.entry_count, job().directory.entry_count);
}

TEST_F(Replace, ASmallPartitionFirstInTheDirectoryKeepsItsOffset) {
  ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  std::rotate(spec.partitions.begin(), spec.partitions.begin() + 3,
              spec.partitions.begin() + 4);  // boot first
  spec.partitions[0].offset = 0x600000;
  opened_.Open(spec);
  ASSERT_TRUE(BuildMergedImage(job(), job().merged_image_path));
  ASSERT_TRUE(WritePartitionsAndDirectory(job(), job().merged_image_path));
  EXPECT_EQ(job().directory.entries[0].offset, 0x600000u);
  std::vector<uint8_t> merged = ReadWholeFile(job().merged_image_path);
  EXPECT_TRUE(std::equal(spec.partitions[0].data.begin(), spec.partitions[0].data.end(),
                         merged.begin() + 0x600000));
}

TEST_F(Replace, RepackingThatWouldOverlapALargePartitionWritesNothing) {
  // "boot" sits in the gap between "appcode" and "fw_audio"; a larger boot logo would run into
  // the audio firmware once it is placed right after the application code.
  ImageSpec spec = testing::DefaultImageSpec(kFullImage);
  std::rotate(spec.partitions.begin() + 1, spec.partitions.begin() + 3,
              spec.partitions.begin() + 4);
  spec.partitions[0].data.resize(0x280000 - 0x4000);
  spec.partitions[1].offset = {};
  opened_.Open(spec);
  ASSERT_TRUE(BuildMergedImage(job(), job().merged_image_path));
  ASSERT_EQ(ReplacePartition(job(), Still("boot.m2v", 0x4001, 0x66), 0x4001, "boot.m2v"),
            ReplaceResult::kReplaced);
  std::vector<uint8_t> before = ReadWholeFile(job().merged_image_path);
  uint32_t boot_offset = job().directory.entries[1].offset;
  RepackResult result = WritePartitionsAndDirectory(job(), job().merged_image_path);
  EXPECT_FALSE(result);
  EXPECT_NE(result.problem.find("partition \"boot\" (directory entry 1)"), std::string::npos)
      << result.problem;
  EXPECT_NE(result.problem.find("\"fw_audio\""), std::string::npos) << result.problem;
  EXPECT_TRUE(ReadWholeFile(job().merged_image_path) == before);
  EXPECT_EQ(job().directory.entries[1].offset, boot_offset);
}

TEST_F(Replace, RepackingPastThePartitionSpaceWritesNothing) {
  ImageSpec spec = testing::DefaultImageSpec(kAppImage);
  spec.partitions[2].data.resize(kPartitionSpace - 0x380000 -
                                 0x2000);  // fw_video up to 0x2000 below the end
  spec.partitions.resize(4);               // then only "boot"
  spec.partitions[3].data.resize(0x1000);
  spec.manufacturer.regions.clear();
  opened_.Open(spec);
  ASSERT_TRUE(BuildMergedImage(job(), job().merged_image_path));
  job().directory.entries[3].second_length = 0x2001;  // as a grown logo would be
  RepackResult result = WritePartitionsAndDirectory(job(), job().merged_image_path);
  EXPECT_FALSE(result);
  EXPECT_NE(result.problem.find("past the partition space"), std::string::npos) << result.problem;
}

}  // namespace
}  // namespace qv
