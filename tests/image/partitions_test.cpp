#include "image/partitions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "app/job_state.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"

namespace qv {
namespace {

using testing::ImageSpec;
using testing::PartitionSpec;

bool AllBytesAre(std::span<const uint8_t> bytes, uint8_t value) {
  return std::all_of(bytes.begin(), bytes.end(), [value](uint8_t b) { return b == value; });
}

// Writes the image of `spec` and reads it into a fresh job as the opening step does.
class ReadImage : public ::testing::Test {
 protected:
  void Read(const ImageSpec& spec) {
    image_ = testing::BuildFlashImage(spec);
    Read(spec.variant, image_);
  }
  void Read(Variant variant, const std::vector<uint8_t>& image) {
    path_ = dir_.File("image.bin");
    WriteWholeFile(path_, image);
    job_.partition_count = PartitionCountOfVariant(variant);
    ReadBootArea(job_, path_);
    ReadPartitionDirectory(job_, path_);
    ReadPartitions(job_, path_);
  }
  std::span<const uint8_t> ImageAt(uint32_t offset, size_t length) const {
    return std::span(image_).subspan(offset, length);
  }

  testing::TempDir dir_;
  std::string path_;
  std::vector<uint8_t> image_;
  JobState job_;
};

class ReadEveryVariant : public ReadImage, public ::testing::WithParamInterface<Variant> {};

TEST_P(ReadEveryVariant, EveryPartitionLandsInItsBufferOrSlot) {
  ImageSpec spec = testing::DefaultImageSpec(GetParam());
  Read(spec);
  const VariantLayout& layout = *LayoutOf(GetParam());
  ASSERT_EQ(job_.directory.entry_count, spec.partitions.size());
  EXPECT_FALSE(FindDirectoryProblem(job_, static_cast<int64_t>(image_.size())));
  for (size_t i = 0; i < spec.partitions.size(); ++i) {
    const DirectoryEntry& entry = job_.directory.entries[i];
    const PartitionSpec& part = spec.partitions[i];
    EXPECT_EQ(entry.Name(), part.name);
    EXPECT_EQ(entry.Length(), part.data.size());
    std::span<const uint8_t> buffer = PartitionBuffer(job_, static_cast<int>(i));
    EXPECT_TRUE(std::equal(part.data.begin(), part.data.end(), buffer.begin())) << part.name;
    EXPECT_TRUE(AllBytesAre(buffer.subspan(part.data.size()), 0xFF)) << part.name;
    EXPECT_TRUE(ImageAt(layout.area_base + entry.offset, part.data.size()).size() ==
                part.data.size());
  }
  // The slots of the three large partitions receive nothing.
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(AllBytesAre(job_.Slot(i), 0xFF));
  // Entries past the count were read whole too (erased in these images).
  EXPECT_EQ(job_.directory.entries[59].offset, 0xFFFFFFFFu);
}

TEST_P(ReadEveryVariant, BootAreaOnlyForFullImages) {
  std::fill(job_.boot_area.begin(), job_.boot_area.end(), 0x5A);
  Read(testing::DefaultImageSpec(GetParam()));
  if (GetParam() == kFullImage) {
    EXPECT_TRUE(std::equal(job_.boot_area.begin(), job_.boot_area.end(), image_.begin()));
  } else {
    EXPECT_TRUE(AllBytesAre(job_.boot_area, 0x5A));
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, ReadEveryVariant,
                         ::testing::Values(kAppImage, kAllImage, kFullImage),
                         testing::VariantParamName());

ImageSpec SmallSpec(Variant variant, std::vector<PartitionSpec> partitions) {
  ImageSpec spec = testing::DefaultImageSpec(variant);
  spec.partitions = std::move(partitions);
  spec.manufacturer.regions.clear();
  return spec;
}

TEST_F(ReadImage, NamesAreMatchedWithoutRegardToCaseAndMayFillTheirField) {
  std::array<uint8_t, 16> sixteen;
  std::copy_n("abcdefghijklmnop", 16, sixteen.begin());
  ImageSpec spec =
      SmallSpec(kAllImage, {{"AppCode", std::vector<uint8_t>(300, 1), 0, {}, {}, {}, {}},
                            {"x", std::vector<uint8_t>(20, 2), 0, {}, {}, {}, sixteen},
                            {"logo", std::vector<uint8_t>(30, 3), 0, {}, {}, {}, {}},
                            {"LOGO", std::vector<uint8_t>(40, 4), 0, {}, {}, {}, {}}});
  Read(spec);
  EXPECT_TRUE(AllBytesAre(std::span(job_.app_code).first(300), 1));
  EXPECT_TRUE(AllBytesAre(job_.Slot(0), 0xFF));
  EXPECT_EQ(job_.directory.entries[1].Name(), "abcdefghijklmnop");
  EXPECT_TRUE(AllBytesAre(job_.Slot(1).first(20), 2));
  // Two entries with the same name each fill their own slot.
  EXPECT_TRUE(AllBytesAre(job_.Slot(2).first(30), 3));
  EXPECT_TRUE(AllBytesAre(job_.Slot(3).first(40), 4));
}

TEST_F(ReadImage, LengthFollowsTheSelector) {
  std::vector<uint8_t> data(200, 9);
  ImageSpec spec = SmallSpec(kAllImage, {{"first", data, 1, {}, 100u, 200u, {}},
                                         {"second", data, 0, {}, 100u, 200u, {}},
                                         {"other", data, 7, {}, 100u, 200u, {}}});
  Read(spec);
  EXPECT_TRUE(AllBytesAre(job_.Slot(0).first(100), 9));
  EXPECT_TRUE(AllBytesAre(job_.Slot(0).subspan(100), 0xFF));
  EXPECT_TRUE(AllBytesAre(job_.Slot(1).first(200), 9));
  EXPECT_TRUE(AllBytesAre(job_.Slot(2).first(200), 9));
}

TEST_F(ReadImage, FullImageOffsetsCountFromTheApplicationArea) {
  std::vector<uint8_t> image(0x800000, 0xFF);
  std::fill_n(image.begin() + 0x51000, 64, 0x33);
  std::fill_n(image.begin() + 0x1000, 64, 0x44);
  DirectoryEntry entry{};
  entry.offset = 0x1000;
  entry.second_length = 64;
  entry.SetName("boot");
  EncodeEntry(entry, std::span(image).subspan(0x6AE000).first<kEntrySize>());
  WriteLe32(&image[0x6AE000 + 3840], 1);
  Read(kFullImage, image);
  EXPECT_TRUE(AllBytesAre(job_.Slot(0).first(64), 0x33));
}

TEST_F(ReadImage, EntryCountZeroReadsNothing) {
  ImageSpec spec = testing::DefaultImageSpec(kAppImage);
  spec.entry_count = 0;
  Read(spec);
  EXPECT_TRUE(AllBytesAre(job_.slots, 0xFF));
  EXPECT_TRUE(AllBytesAre(job_.app_code, 0xFF));
  EXPECT_EQ(job_.directory.entries[0].Name(), "appcode");  // the array is still read whole
}

// Directories that would make a reader go past a buffer or the file: reading stays inside,
// and the check names what is wrong.
TEST_F(ReadImage, EntryCountAboveSixtyIsReportedAndReadingStopsAtSixty) {
  for (uint32_t count : {61u, 0xFFFFFFFFu}) {
    ImageSpec spec = testing::DefaultImageSpec(kAllImage);
    spec.entry_count = count;
    Read(spec);
    std::optional<std::string> problem =
        FindDirectoryProblem(job_, static_cast<int64_t>(image_.size()));
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->find("entry count of " + std::to_string(count)), std::string::npos)
        << *problem;
    EXPECT_NE(problem->find("0x65E000"), std::string::npos) << *problem;
  }
}

TEST_F(ReadImage, PartitionLongerThanItsSlotIsReportedAndCutAtTheSlot) {
  ImageSpec spec =
      SmallSpec(kAllImage, {{"big", std::vector<uint8_t>(kSlotSize + 1, 6), 0, {}, {}, {}, {}},
                            {"next", std::vector<uint8_t>(10, 7), 0, {}, {}, {}, {}}});
  Read(spec);
  std::optional<std::string> problem =
      FindDirectoryProblem(job_, static_cast<int64_t>(image_.size()));
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find("entry 0 (\"big\")"), std::string::npos) << *problem;
  EXPECT_NE(problem->find("second length of 51201"), std::string::npos) << *problem;
  EXPECT_TRUE(AllBytesAre(job_.Slot(0), 6));
  EXPECT_TRUE(AllBytesAre(job_.Slot(1).first(10), 7));
  EXPECT_TRUE(AllBytesAre(job_.Slot(1).subspan(10), 0xFF));
}

TEST_F(ReadImage, LargePartitionLongerThanItsBufferIsReported) {
  ImageSpec spec =
      SmallSpec(kFullImage, {{"fw_audio", std::vector<uint8_t>(16, 1), 1, {}, 0x300001u, 0u, {}}});
  Read(spec);
  std::optional<std::string> problem =
      FindDirectoryProblem(job_, static_cast<int64_t>(image_.size()));
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find("first length of 3145729"), std::string::npos) << *problem;
  EXPECT_NE(problem->find("audio firmware buffer"), std::string::npos) << *problem;
}

TEST_F(ReadImage, PartitionEndingPastTheFileIsReportedAndReadUpToTheEnd) {
  // The last 16 bytes of an app image hold the data; the entry claims 100 bytes.
  std::vector<uint8_t> image(0x660000, 0xFF);
  std::fill_n(image.end() - 16, 16, 5);
  DirectoryEntry entry{};
  entry.offset = 0x65FFF0;
  entry.second_length = 100;
  entry.SetName("tail");
  EncodeEntry(entry, std::span(image).subspan(0x65E000).first<kEntrySize>());
  WriteLe32(&image[0x65E000 + 3840], 1);
  image_ = image;
  Read(kAppImage, image);
  std::optional<std::string> problem =
      FindDirectoryProblem(job_, static_cast<int64_t>(image.size()));
  ASSERT_TRUE(problem);
  EXPECT_NE(problem->find("entry 0 (\"tail\")"), std::string::npos) << *problem;
  EXPECT_NE(problem->find("past the end"), std::string::npos) << *problem;
  EXPECT_TRUE(AllBytesAre(job_.Slot(0).first(16), 5));
  EXPECT_TRUE(AllBytesAre(job_.Slot(0).subspan(16), 0xFF));
}

TEST(PartitionDirectory, EncodeAndDecodeKeepEveryByte) {
  std::vector<uint8_t> bytes = testing::RandomBytes(kDirectorySize, 11);
  PartitionDirectory directory;
  directory.Decode(std::span<const uint8_t, kDirectorySize>(bytes.data(), kDirectorySize));
  std::array<uint8_t, kDirectorySize> again;
  directory.Encode(again);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), bytes.begin()));
}

}  // namespace
}  // namespace qv
