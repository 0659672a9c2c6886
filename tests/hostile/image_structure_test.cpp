// Flash images whose partition directory, manufacturer block or settings partitions hold
// values that no sound image has: opened as flash images and as download files.
#include <nlohmann/json.hpp>

#include "download/crc32.h"
#include "image/manufacturer_block.h"
#include "image/partition_directory.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/test_images.h"

namespace qv::testing {
namespace {

// Directory entry fields, by their byte offset in the 64-byte entry.
constexpr size_t kOffsetField = 0;
constexpr size_t kSelectorField = 4;
constexpr size_t kFirstLengthField = 8;
constexpr size_t kSecondLengthField = 12;

// The sample image's entries: appcode, fw_audio, fw_video (selector 1), boot, menu
// (selector 1), radio, httpcfg, modelid, dvb_cfg.
constexpr int kAppCode = 0, kVideoFirmware = 2, kBoot = 3, kHttpCfg = 6, kDvbCfg = 8;

std::vector<uint8_t> WithEntryField(Variant variant, int entry, size_t field, uint32_t value) {
  std::vector<uint8_t> image = SampleImage(variant);
  WriteLe32(&image[LayoutOf(variant)->directory_offset + kEntrySize * entry + field], value);
  return image;
}

std::vector<uint8_t> WithEntryCount(Variant variant, uint32_t count) {
  std::vector<uint8_t> image = SampleImage(variant);
  WriteLe32(&image[LayoutOf(variant)->directory_offset + kMaxEntries * kEntrySize], count);
  return image;
}

std::vector<uint8_t> AsDownload(Variant variant, const std::vector<uint8_t>& image) {
  return sample::BuildDownload(image, sample::DownloadSpecFor(sample::DefaultImageSpec(variant)));
}

// The CRC of a region of `image` as its record describes it: bytes past the image are 0xFF.
uint32_t RegionCrc(const std::vector<uint8_t>& image, Variant variant, uint32_t start,
                   uint32_t length) {
  int64_t window = int64_t{kFlashWindow} + kApplicationArea - LayoutOf(variant)->area_base;
  uint32_t crc = kCrc32Initial;
  for (uint32_t i = 0; i < length; ++i) {
    int64_t at = int64_t{start} - window + i;
    uint8_t byte =
        at >= 0 && at < static_cast<int64_t>(image.size()) ? image[static_cast<size_t>(at)] : 0xFF;
    crc = Crc32Update(crc, std::span(&byte, 1));
  }
  return crc;
}

class HostileDirectory : public Hostile {};

TEST_F(HostileDirectory, EntryCountsPastSixtyAreRefused) {
  for (uint32_t count : {61u, 0xFFFFFFFFu}) {
    std::string message = "has an entry count of " + std::to_string(count);
    std::vector<uint8_t> image = WithEntryCount(kAllImage, count);
    EXPECT_TRUE(Refused(Info(WriteInput("box.bin", image)), message));
    EXPECT_TRUE(
        Refused(Build(WriteInput("box.bin", image)), "Open File Error: the partition directory"));
    EXPECT_TRUE(Refused(Build(WriteInput("box.dld", AsDownload(kAllImage, image))), message));
    ExpectNoResult();
  }
}

TEST_F(HostileDirectory, LengthsPastTheirBuffersAreRefused) {
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
      {WithEntryField(kAllImage, kAppCode, kSecondLengthField, 0x660001),
       "6684672-byte application code"},
      {WithEntryField(kAllImage, kVideoFirmware, kFirstLengthField, 0x300001),
       "3145728-byte video firmware"},
      {WithEntryField(kAllImage, kBoot, kSecondLengthField, 51201), "51200-byte partition slot"},
      {WithEntryField(kAllImage, kBoot, kSecondLengthField, 0xFFFFFFFF),
       "51200-byte partition slot"},
  };
  for (const auto& [image, message] : cases) {
    EXPECT_TRUE(Refused(Build(WriteInput("box.bin", image)), message)) << message;
  }
  // The selector picks the length that counts: here the first one.
  std::vector<uint8_t> image = WithEntryField(kAllImage, kBoot, kSelectorField, 1);
  WriteLe32(&image[LayoutOf(kAllImage)->directory_offset + kEntrySize * kBoot + kFirstLengthField],
            0x100000);
  EXPECT_TRUE(Refused(Build(WriteInput("box.bin", image)), "a first length of 1048576 bytes"));
  EXPECT_TRUE(Refused(Info(WriteInput("box.dld", AsDownload(kAllImage, image))),
                      "first length of 1048576"));
  ExpectNoResult();
}

TEST_F(HostileDirectory, OffsetsPastTheFileAreRefused) {
  for (Variant variant : {kAppImage, kFullImage}) {
    const uint32_t past_the_end = LayoutOf(variant)->file_size - LayoutOf(variant)->area_base;
    for (uint32_t offset : {past_the_end, past_the_end - 100, 0xFFFFFFF0u, 0xFFFFFF00u}) {
      std::vector<uint8_t> image = WithEntryField(variant, kDvbCfg, kOffsetField, offset);
      EXPECT_TRUE(Refused(Build(WriteInput("box.bin", image)), "ends past the end of the"))
          << VariantLabel(variant) << " " << offset;
    }
  }
  // Offset and length whose sum does not fit 32 bits.
  std::vector<uint8_t> image = WithEntryField(kAllImage, kDvbCfg, kOffsetField, 0xFFFFFF00u);
  WriteLe32(
      &image[LayoutOf(kAllImage)->directory_offset + kEntrySize * kDvbCfg + kSecondLengthField],
      0x200);
  EXPECT_TRUE(Refused(Info(WriteInput("box.bin", image)), "ends past the end of the"));
  ExpectNoResult();
}

// Found by the image fuzzer checking that every partition reads back from the merged image as
// the job holds it: a second "fw_audio" entry shared the first one's buffer, so the merged image
// carried one partition's data in both places, and a partition reaching past the partition
// space was overwritten there by the directory, the manufacturer block or a new database.
TEST_F(HostileDirectory, PartitionsTheMergedImageCouldNotHoldAreRefused) {
  std::vector<uint8_t> image = SampleImage(kAllImage);
  const size_t directory = LayoutOf(kAllImage)->directory_offset;
  std::copy_n(&image[directory + kEntrySize * 1], kEntrySize,
              &image[directory + kEntrySize * kDvbCfg]);
  WriteLe32(&image[directory + kEntrySize * kDvbCfg], 0x500000);  // its own place, the same name
  EXPECT_TRUE(Refused(
      Build(WriteInput("box.bin", image)),
      "entry 8 (\"fw_audio\") is a second partition for the audio firmware buffer, which entry 1"));

  for (Variant variant : {kAppImage, kAllImage, kFullImage}) {
    // "dvb_cfg" moved to end 16 bytes into the directory; and a large partition there.
    std::vector<uint8_t> moved =
        WithEntryField(variant, kDvbCfg, kOffsetField, kPartitionSpace - 700 + 16);
    EXPECT_TRUE(Refused(Build(WriteInput("box.bin", moved)), "ends past the partition space"))
        << VariantLabel(variant);
    moved = WithEntryField(variant, kAppCode, kOffsetField, 0x500000);
    WriteLe32(&moved[LayoutOf(variant)->directory_offset + kSecondLengthField], 0x15F000);
    EXPECT_TRUE(Refused(Info(WriteInput("box.bin", moved)), "ends past the partition space"))
        << VariantLabel(variant);
  }
  ExpectNoResult();
}

// Found by the image fuzzer: the re-packing checked the small partitions it moves, but not one
// at index 0, which keeps its place; written there with a new model id it landed on the large
// partition it overlapped.
TEST_F(HostileDirectory, AFirstSmallPartitionOverALargeOneStopsStart) {
  sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.manufacturer.regions.clear();
  sample::PartitionSpec model = spec.partitions[7];  // "modelid", inside "fw_audio"
  model.offset = 0x280010;
  spec.partitions.insert(spec.partitions.begin(), model);
  std::string image = WriteInput("box.bin", sample::BuildFlashImage(spec));
  EXPECT_TRUE(Refused(Build(image, {"--model-id", "QV-LONGER-MODEL-ID"}),
                      "The partitions do not fit the image: the partition \"modelid\" (directory "
                      "entry 0) would lie at offsets 0x280010 to 0x280022, over the partition "
                      "\"fw_audio\""));
  ExpectNoResult();
}

class HostileManufacturerBlock : public Hostile {};

TEST_F(HostileManufacturerBlock, ARegionCountOf200ChecksTheRecordsThatExist) {
  sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.manufacturer.region_count = 200;
  // Every record on flash asks for its CRC: a few bytes of each 64 KiB block of the image.
  for (uint32_t i = static_cast<uint32_t>(spec.manufacturer.regions.size());
       i < kRegionRecordsOnFlash; ++i) {
    spec.manufacturer.regions.push_back({static_cast<uint8_t>(i),
                                         sample::WindowAddress(kAllImage, i * 0x10000 + 0x40),
                                         0x123, 1, 0});
  }
  std::string path = WriteInput("box.bin", sample::BuildFlashImage(spec));
  // The records carry CRCs of zero: the image does not match them, and is opened only when
  // the user says so; Start then gives every record that exists the CRC of its bytes.
  EXPECT_TRUE(Refused(Build(path, {"--model-id", "QV-REGIONS"}), "region 122 (flash"));
  ASSERT_TRUE(Succeeded(Build(path, {"--model-id", "QV-REGIONS", "--allow-bad-checksums"})));

  HostileRun info = RunHostile("quorvane", {"info", Work() + "/box_Merge.bin", "--json"}, Work());
  ASSERT_TRUE(Succeeded(info));
  nlohmann::json manufacturer = nlohmann::json::parse(info.output)["manufacturer"];
  EXPECT_EQ(manufacturer["region_count"], 200);
  ASSERT_EQ(manufacturer["regions"].size(), 130u);
  for (const nlohmann::json& region : manufacturer["regions"]) {
    if (region["check_flag"] == 1) {
      EXPECT_EQ(region["crc_ok"], true) << region.dump();
    }
  }
  EXPECT_EQ(manufacturer["block_crc_ok"], true);
  EXPECT_TRUE(watched_.Unchanged());
}

TEST_F(HostileManufacturerBlock, RegionsOverSixtyFourKiBGetTheCrcOfTheirWholeRange) {
  sample::ImageSpec spec = sample::DefaultImageSpec(kFullImage);
  auto& regions = spec.manufacturer.regions;
  regions.push_back({20, sample::WindowAddress(kFullImage, 0x123450), 0x10001, 1, 0});
  // From the end of the manufacturer block (a region over the block cannot match the block
  // written after its CRC) to far past the end of the flash.
  regions.push_back({21, sample::WindowAddress(kFullImage, 0x6B0000), 0xFFFFFF, 1, 0});
  regions.push_back({22, sample::WindowAddress(kFullImage, 0x7F0000), 0x200000, 1,
                     0});  // past the end of the flash
  std::string path = WriteInput("box.bin", sample::BuildFlashImage(spec));
  ASSERT_TRUE(Succeeded(Build(path, {"--allow-bad-checksums"})));

  std::vector<uint8_t> merged = ReadWholeFile(Work() + "/box_Merge.bin");
  const size_t block = LayoutOf(kFullImage)->manufacturer_offset;
  for (size_t i = 0; i < regions.size(); ++i) {
    const uint8_t* record = &merged[block + kRegionRecordOffset + kRegionRecordSize * i];
    if (record[8] != 1) continue;
    uint32_t start = ReadLe32(record + 1), length = ReadLe24(record + 5);
    EXPECT_EQ(ReadLe32(record + 9), RegionCrc(merged, kFullImage, start, length)) << "region " << i;
  }
  EXPECT_EQ(ReadLe32(&merged[block + kBlockCrcOffset]), Crc32(&merged[block], kBlockCrcOffset));
}

class HostileSettings : public Hostile {};

TEST_F(HostileSettings, AnHttpcfgPartitionLargerThanItsSlotIsRefused) {
  std::vector<uint8_t> image = WithEntryField(kAppImage, kHttpCfg, kSecondLengthField, 51201);
  EXPECT_TRUE(
      Refused(Build(WriteInput("box.bin", image)), "more than its 51200-byte partition slot"));
  EXPECT_TRUE(Refused(Info(WriteInput("box.dld", AsDownload(kAppImage, image))), "httpcfg"));
  ExpectNoResult();
}

TEST_F(HostileSettings, AnHttpcfgThatOutgrowsItsSlotStopsStart) {
  sample::ImageSpec spec = sample::DefaultImageSpec(kAppImage);
  std::string text = sample::SampleHttpCfg();
  while (text.size() < kSlotSize - 60)
    text += "; padding that keeps the file just inside its slot\r\n";
  spec.partitions[kHttpCfg].data.assign(text.begin(), text.end());
  std::string path = WriteInput("box.bin", sample::BuildFlashImage(spec));
  EXPECT_TRUE(Succeeded(Info(path)));
  EXPECT_TRUE(Refused(Build(path, {"--http-manual-addr", std::string(200, 'h')}),
                      "httpcfg.ini has grown larger than the 51200 bytes of its partition!"));
  ExpectNoResult();
}

}  // namespace
}  // namespace qv::testing
