// The flash image parsed from its bytes: every partition the directory lists as a view of the
// image, and the directories that are unsafe to work with refused with what is wrong and where.
#include "image/flash_image.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/little_endian.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

using sample::ImageSpec;
using sample::PartitionSpec;

bool AllBytesAre(std::span<const uint8_t> bytes, uint8_t value) {
  return std::all_of(bytes.begin(), bytes.end(), [value](uint8_t b) { return b == value; });
}

ImageSpec SmallSpec(Variant variant, std::vector<PartitionSpec> partitions) {
  ImageSpec spec = sample::DefaultImageSpec(variant);
  spec.partitions = std::move(partitions);
  spec.manufacturer.regions.clear();
  return spec;
}

FlashImage Parsed(const ImageSpec& spec) {
  Result<FlashImage> image = FlashImage::Parse(sample::BuildFlashImage(spec), spec.variant);
  EXPECT_TRUE(image) << image.error().text;
  return std::move(image).value();
}

// An erased image of `variant` whose directory lists one partition.
std::vector<uint8_t> OneEntryImage(Variant variant, const char* name, uint32_t offset,
                                   uint32_t length) {
  const VariantLayout& layout = *LayoutOf(variant);
  std::vector<uint8_t> bytes(layout.file_size, 0xFF);
  DirectoryEntry entry{};
  entry.offset = offset;
  entry.second_length = length;
  entry.SetName(name);
  EncodeEntry(entry, std::span(bytes).subspan(layout.directory_offset).first<kEntrySize>());
  WriteLe32(&bytes[layout.directory_offset + 3840], 1);
  return bytes;
}

// The directory problem of an image, which Parse refuses it for.
Error ProblemOf(Variant variant, std::vector<uint8_t> bytes) {
  Result<FlashImage> image = FlashImage::Parse(std::move(bytes), variant);
  EXPECT_FALSE(image);
  return image ? Error{} : image.error();
}

class ParseEveryVariant : public ::testing::TestWithParam<Variant> {};

TEST_P(ParseEveryVariant, EveryPartitionIsTheImagesBytesAtItsOffset) {
  ImageSpec spec = sample::DefaultImageSpec(GetParam());
  std::vector<uint8_t> bytes = sample::BuildFlashImage(spec);
  FlashImage image = Parsed(spec);
  const VariantLayout& layout = *LayoutOf(GetParam());
  ASSERT_EQ(image.directory().entry_count, spec.partitions.size());
  for (size_t i = 0; i < spec.partitions.size(); ++i) {
    const DirectoryEntry& entry = image.directory().entries[i];
    const PartitionSpec& part = spec.partitions[i];
    EXPECT_EQ(entry.Name(), part.name);
    EXPECT_EQ(entry.Length(), part.data.size());
    std::span<const uint8_t> data = image.Partition(static_cast<int>(i));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), part.data.begin(), part.data.end()))
        << part.name;
    EXPECT_EQ(data.data(), image.bytes().data() + layout.area_base + entry.offset);
  }
  // Entries past the count are decoded too (erased in these images).
  EXPECT_EQ(image.directory().entries[59].offset, 0xFFFFFFFFu);
  EXPECT_TRUE(std::equal(image.bytes().begin(), image.bytes().end(), bytes.begin(), bytes.end()));
}

TEST_P(ParseEveryVariant, BootAreaOnlyForFullImages) {
  ImageSpec spec = sample::DefaultImageSpec(GetParam());
  std::vector<uint8_t> bytes = sample::BuildFlashImage(spec);
  FlashImage image = Parsed(spec);
  if (GetParam() == kFullImage) {
    ASSERT_EQ(image.BootArea().size(), kBootAreaSize);
    EXPECT_TRUE(std::equal(image.BootArea().begin(), image.BootArea().end(), bytes.begin()));
  } else {
    EXPECT_TRUE(image.BootArea().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Variants, ParseEveryVariant,
                         ::testing::Values(kAppImage, kAllImage, kFullImage),
                         testing::VariantParamName());

TEST(FlashImage, NamesAreMatchedWithoutRegardToCaseAndMayFillTheirField) {
  std::array<uint8_t, 16> sixteen;
  std::copy_n("abcdefghijklmnop", 16, sixteen.begin());
  ImageSpec spec =
      SmallSpec(kAllImage, {{"AppCode", std::vector<uint8_t>(300, 1), 0, {}, {}, {}, {}},
                            {"x", std::vector<uint8_t>(20, 2), 0, {}, {}, {}, sixteen},
                            {"logo", std::vector<uint8_t>(30, 3), 0, {}, {}, {}, {}},
                            {"LOGO", std::vector<uint8_t>(40, 4), 0, {}, {}, {}, {}}});
  FlashImage image = Parsed(spec);
  EXPECT_TRUE(IsLargePartition(image.directory().entries[0]));
  EXPECT_EQ(image.Partition(0).size(), 300u);
  EXPECT_TRUE(AllBytesAre(image.Partition(0), 1));
  EXPECT_EQ(image.directory().entries[1].Name(), "abcdefghijklmnop");
  EXPECT_TRUE(AllBytesAre(image.Partition(1), 2));
  // Two entries with the same name each have their own data.
  EXPECT_EQ(image.Partition(2).size(), 30u);
  EXPECT_TRUE(AllBytesAre(image.Partition(2), 3));
  EXPECT_EQ(image.Partition(3).size(), 40u);
  EXPECT_TRUE(AllBytesAre(image.Partition(3), 4));
}

TEST(FlashImage, LengthFollowsTheSelector) {
  std::vector<uint8_t> data(200, 9);
  ImageSpec spec = SmallSpec(kAllImage, {{"first", data, 1, {}, 100u, 200u, {}},
                                         {"second", data, 0, {}, 100u, 200u, {}},
                                         {"other", data, 7, {}, 100u, 200u, {}}});
  FlashImage image = Parsed(spec);
  EXPECT_EQ(image.Partition(0).size(), 100u);
  EXPECT_EQ(image.Partition(1).size(), 200u);
  EXPECT_EQ(image.Partition(2).size(), 200u);
  EXPECT_TRUE(AllBytesAre(image.Partition(0), 9));
}

TEST(FlashImage, FullImageOffsetsCountFromTheApplicationArea) {
  std::vector<uint8_t> bytes = OneEntryImage(kFullImage, "boot", 0x1000, 64);
  std::fill_n(bytes.begin() + 0x51000, 64, 0x33);
  std::fill_n(bytes.begin() + 0x1000, 64, 0x44);
  Result<FlashImage> image = FlashImage::Parse(bytes, kFullImage);
  ASSERT_TRUE(image);
  EXPECT_TRUE(AllBytesAre(image->Partition(0), 0x33));
}

TEST(FlashImage, EntryCountZeroListsNothing) {
  ImageSpec spec = sample::DefaultImageSpec(kAppImage);
  spec.entry_count = 0;
  FlashImage image = Parsed(spec);
  EXPECT_EQ(image.directory().UsableCount(), 0);
  EXPECT_EQ(image.directory().entries[0].Name(), "appcode");  // the array is still read whole
  EXPECT_EQ(image.ModelId(), "");
  EXPECT_FALSE(image.HttpCfg());
}

// Directories that would make a reader go past its buffer or the file: the image is refused,
// and the error names what is wrong and where.
TEST(FlashImage, EntryCountAboveSixtyIsRefused) {
  for (uint32_t count : {61u, 0xFFFFFFFFu}) {
    ImageSpec spec = sample::DefaultImageSpec(kAllImage);
    spec.entry_count = count;
    Error problem = ProblemOf(kAllImage, sample::BuildFlashImage(spec));
    EXPECT_NE(problem.text.find("entry count of " + std::to_string(count)), std::string::npos)
        << problem.text;
    EXPECT_NE(problem.text.find("0x65E000"), std::string::npos) << problem.text;
    EXPECT_EQ(problem.field, "entry count");
    EXPECT_EQ(problem.offset, 0x65E000 + 3840);
  }
}

TEST(FlashImage, PartitionLongerThanItsSlotIsRefused) {
  ImageSpec spec =
      SmallSpec(kAllImage, {{"big", std::vector<uint8_t>(kSlotSize + 1, 6), 0, {}, {}, {}, {}},
                            {"next", std::vector<uint8_t>(10, 7), 0, {}, {}, {}, {}}});
  Error problem = ProblemOf(kAllImage, sample::BuildFlashImage(spec));
  EXPECT_NE(problem.text.find("entry 0 (\"big\")"), std::string::npos) << problem.text;
  EXPECT_NE(problem.text.find("second length of 51201"), std::string::npos) << problem.text;
  EXPECT_EQ(problem.field, "second length");
  EXPECT_EQ(problem.offset, 0x65E000 + 12);
}

TEST(FlashImage, LargePartitionLongerThanItsBufferIsRefused) {
  ImageSpec spec =
      SmallSpec(kFullImage, {{"fw_audio", std::vector<uint8_t>(16, 1), 1, {}, 0x300001u, 0u, {}}});
  Error problem = ProblemOf(kFullImage, sample::BuildFlashImage(spec));
  EXPECT_NE(problem.text.find("first length of 3145729"), std::string::npos) << problem.text;
  EXPECT_NE(problem.text.find("audio firmware buffer"), std::string::npos) << problem.text;
  EXPECT_EQ(problem.offset, 0x6AE000 + 8);
}

TEST(FlashImage, PartitionEndingPastTheFileIsRefused) {
  // The last 16 bytes of an app image hold the data; the entry claims 100 bytes.
  std::vector<uint8_t> bytes = OneEntryImage(kAppImage, "tail", 0x65FFF0, 100);
  std::fill_n(bytes.end() - 16, 16, 5);
  Error problem = ProblemOf(kAppImage, bytes);
  EXPECT_NE(problem.text.find("entry 0 (\"tail\")"), std::string::npos) << problem.text;
  EXPECT_NE(problem.text.find("past the end"), std::string::npos) << problem.text;
  EXPECT_EQ(problem.offset, 0x65E000);
}

TEST(FlashImage, BytesShorterThanTheVariantAreRefused) {
  // Carried ranges and regions lie up to the variant's end: an image cut short has none of them.
  std::vector<uint8_t> bytes = sample::BuildFlashImage(sample::DefaultImageSpec(kAllImage));
  bytes.resize(0x660000);
  Error problem = ProblemOf(kAllImage, bytes);
  EXPECT_EQ(problem.text, "the image has 0x660000 bytes, fewer than the 0x7B0000 of its variant");
}

TEST(PartitionDirectory, EncodeAndDecodeKeepEveryByte) {
  std::vector<uint8_t> bytes = sample::RandomBytes(kDirectorySize, 11);
  PartitionDirectory directory;
  directory.Decode(std::span<const uint8_t, kDirectorySize>(bytes.data(), kDirectorySize));
  std::array<uint8_t, kDirectorySize> again;
  directory.Encode(again);
  EXPECT_TRUE(std::equal(again.begin(), again.end(), bytes.begin()));
}

}  // namespace
}  // namespace qv
