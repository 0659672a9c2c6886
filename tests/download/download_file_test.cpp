#include "download/download_file.h"

#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <algorithm>
#include <map>

#include "download/crc32.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

using sample::BuildDownload;
using sample::BuildFlashImage;
using sample::DefaultImageSpec;
using sample::DownloadSpecFor;
using testing::LocateRecords;
using testing::RecordPlace;

struct Sample {
  std::vector<uint8_t> image;
  std::vector<uint8_t> download;
};

// One image and its download per variant, built once: they are large.
const Sample& SampleOf(Variant variant) {
  static std::map<Variant, Sample> samples;
  auto found = samples.find(variant);
  if (found == samples.end()) {
    sample::ImageSpec spec = DefaultImageSpec(variant);
    Sample sample;
    sample.image = BuildFlashImage(spec);
    sample.download = BuildDownload(sample.image, DownloadSpecFor(spec));
    found = samples.emplace(variant, std::move(sample)).first;
  }
  return found->second;
}

std::vector<uint8_t> Compress(std::span<const uint8_t> data) {
  EnsureLzoReady();
  std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS);
  std::vector<uint8_t> out(data.size() + data.size() / 16 + 67);
  lzo_uint size = 0;
  lzo1x_1_compress(data.data(), data.size(), out.data(), &size, work.data());
  out.resize(size);
  return out;
}

// Appends one framed record: tag, length (payload + 4), payload, CRC of the payload.
void AppendRecord(std::vector<uint8_t>& out, uint8_t tag, int width,
                  std::span<const uint8_t> payload) {
  out.push_back(tag);
  uint8_t length[3];
  WriteLe(length, payload.size() + 4, width);
  out.insert(out.end(), length, length + width);
  out.insert(out.end(), payload.begin(), payload.end());
  uint8_t crc[4];
  WriteLe32(crc, Crc32Update(kCrc32Initial, payload));
  out.insert(out.end(), crc, crc + 4);
}

// A key download (one sector pair) whose data record carries `data` as given.
std::vector<uint8_t> KeyDownloadWithData(std::span<const uint8_t> data) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> header(kHeaderPayloadSize, 0);
  header[57] = 1;
  AppendRecord(out, kHeaderTag, 2, header);
  std::vector<uint8_t> sector_header(20, 0);
  AppendRecord(out, kSectorHeaderTag, 1, sector_header);
  AppendRecord(out, kSectorDataTag, 3, data);
  return out;
}

class ConvertsEveryVariant : public ::testing::TestWithParam<Variant> {};

TEST_P(ConvertsEveryVariant, BackToTheImageByteForByte) {
  const Sample& sample = SampleOf(GetParam());
  testing::TempDir dir;
  WriteWholeFile(dir.File("box.dld"), sample.download);
  Result<void> result =
      ConvertDownload(dir.File("box.dld"), GetParam(), dir.File("Temp_DldToBin.bin"));
  ASSERT_TRUE(result) << result.error().text;
  std::vector<uint8_t> converted = ReadWholeFile(dir.File("Temp_DldToBin.bin"));
  EXPECT_EQ(converted.size(), LayoutOf(GetParam())->file_size);
  EXPECT_TRUE(converted == sample.image);
}

INSTANTIATE_TEST_SUITE_P(Variants, ConvertsEveryVariant,
                         ::testing::Values(kAppImage, kAllImage, kFullImage),
                         testing::VariantParamName());

TEST(ConvertDownload, RecordsBeginAsTheFormatSays) {
  const std::vector<uint8_t>& download = SampleOf(kAllImage).download;
  EXPECT_EQ(download[0], 0x11);
  EXPECT_EQ(download[1], 0x4C);
  EXPECT_EQ(download[2], 0x00);
  std::vector<RecordPlace> places = LocateRecords(download);
  ASSERT_EQ(places.size(), 1u + 2u * 130u);
  EXPECT_EQ(places.back().end(), download.size());
  for (size_t i = 1; i < places.size(); i += 2) {
    EXPECT_EQ(download[places[i].offset], 0x22);
    EXPECT_EQ(download[places[i].offset + 1], 0x18);
    EXPECT_EQ(download[places[i + 1].offset], 0x33);
  }
}

TEST(ConvertDownload, AllImageHasFewerErasedBlocksThanSectorsAndPlacesTheSmallTopSectors) {
  // 130 sectors, of which the last eight are 8 KiB: 0x7A0000 + k * 0x2000.
  std::vector<uint8_t> image(0x7B0000, 0xFF);
  for (int k = 0; k < 8; ++k)
    std::fill_n(image.begin() + 0x7A0000 + k * 0x2000, 0x2000, uint8_t(0x10 + k));
  sample::DownloadSpec spec;
  spec.variant = kAllImage;
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(BuildDownload(image, spec), kAllImage, converted));
  ASSERT_EQ(converted.size(), 0x7B0000u);
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(converted[0x7A0000 + k * 0x2000 + 5], 0x10 + k);
}

TEST(ConvertDownload, KeyAndDefaultDatabaseDownloads) {
  std::vector<uint8_t> key = sample::RandomBytes(0x10000, 5);
  sample::DownloadSpec key_spec;
  key_spec.variant = kKeyDownload;
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(BuildDownload(key, key_spec), kKeyDownload, converted));
  EXPECT_TRUE(converted == key);

  std::vector<uint8_t> database = sample::CodeLikeBytes(0x40000, 6);
  sample::DownloadSpec database_spec;
  database_spec.variant = kDefaultDownload;
  ASSERT_TRUE(
      ConvertDownloadBytes(BuildDownload(database, database_spec), kDefaultDownload, converted));
  EXPECT_TRUE(converted == database);
}

TEST(ConvertDownload, ShortBlockLeavesTheRestOfItsSectorErasedAndEmptyPayloadVerifies) {
  std::vector<uint8_t> data(100, 0x42);
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(KeyDownloadWithData(Compress(data)), kKeyDownload, converted));
  ASSERT_EQ(converted.size(), 0x10000u);
  EXPECT_TRUE(
      std::all_of(converted.begin(), converted.begin() + 100, [](uint8_t b) { return b == 0x42; }));
  EXPECT_TRUE(
      std::all_of(converted.begin() + 100, converted.end(), [](uint8_t b) { return b == 0xFF; }));

  // A record of length 4 has an empty payload, whose CRC is 0xFFFFFFFF.
  std::vector<uint8_t> header_only;
  AppendRecord(header_only, kHeaderTag, 2, {});
  EXPECT_EQ(ReadLe32(&header_only[3]), 0xFFFFFFFFu);
  std::vector<uint8_t> download = KeyDownloadWithData(Compress(data));
  download.erase(download.begin(), download.begin() + kHeaderRecordSize);
  download.insert(download.begin(), header_only.begin(), header_only.end());
  EXPECT_TRUE(ConvertDownloadBytes(download, kKeyDownload, converted));
}

// Blocks are placed in file order at their offsets whatever their length: one that runs past
// its sector is overwritten by the next, and the last one may lengthen the file.
TEST(ConvertDownload, BlocksLongerThanTheirSectorArePlacedWhole) {
  std::vector<uint8_t> download;
  AppendRecord(download, kHeaderTag, 2, std::vector<uint8_t>(kHeaderPayloadSize, 0));
  const std::pair<uint32_t, uint8_t> blocks[] = {
      {0x10010, 0x11}, {0x10000, 0x22}, {0x100, 0x33}, {0x10020, 0x44}};
  for (auto [length, fill] : blocks) {
    AppendRecord(download, kSectorHeaderTag, 1, std::vector<uint8_t>(20, 0));
    AppendRecord(download, kSectorDataTag, 3, Compress(std::vector<uint8_t>(length, fill)));
  }
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(download, kDefaultDownload, converted));
  ASSERT_EQ(converted.size(), 0x40020u);
  EXPECT_EQ(converted[0xFFFF], 0x11);
  EXPECT_EQ(converted[0x10000], 0x22);
  EXPECT_EQ(converted[0x1FFFF], 0x22);
  EXPECT_EQ(converted[0x200FF], 0x33);
  EXPECT_EQ(converted[0x20100], 0xFF);
  EXPECT_EQ(converted[0x4001F], 0x44);
}

TEST(ConvertDownload, SurplusPairsAreIgnored) {
  std::vector<uint8_t> download = SampleOf(kAppImage).download;
  std::vector<RecordPlace> places = LocateRecords(download);
  download.insert(download.end(), download.begin() + places[1].offset,
                  download.begin() + places[2].end());
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(download, kAppImage, converted));
  EXPECT_TRUE(converted == SampleOf(kAppImage).image);
}

// A reader may stop reading a download file at the input bound: no conversion looks further,
// so what lies past it (surplus pairs, or anything else) changes nothing.
TEST(ConvertDownload, NothingPastTheInputBoundIsLookedAt) {
  for (Variant variant : {kAppImage, kAllImage, kFullImage}) {
    SCOPED_TRACE(testing::VariantLabel(variant));
    std::vector<uint8_t> download = SampleOf(variant).download;
    ASSERT_LE(download.size(), DownloadInputBound(variant));
    download.resize(DownloadInputBound(variant), 0x33);
    std::vector<uint8_t> converted;
    ASSERT_TRUE(ConvertDownloadBytes(download, variant, converted));
    EXPECT_TRUE(converted == SampleOf(variant).image);
  }
  // The largest records the limits allow, every one of them, fill the bound exactly.
  EXPECT_EQ(DownloadInputBound(kKeyDownload),
            size_t{3 + 0xFFFF} + (2 + 0xFF) + (1 + 3 + kRecordLimit + 4));
}

// Every kind of damage to a record makes the conversion fail with a message, never crash.
class DamagedRecord : public ::testing::TestWithParam<size_t> {};

TEST_P(DamagedRecord, FlippedBitsInPayloadCrcOrTagFail) {
  const std::vector<uint8_t>& good = SampleOf(kAppImage).download;
  const RecordPlace place = LocateRecords(good)[GetParam()];
  std::vector<size_t> targets = {place.offset, place.payload_offset(),
                                 place.payload_offset() + (place.length - 4) / 2,
                                 place.crc_offset(), place.crc_offset() + 3};
  for (size_t target : targets) {
    std::vector<uint8_t> download = good;
    download[target] ^= 0x08;
    std::vector<uint8_t> converted;
    Result<void> result = ConvertDownloadBytes(download, kAppImage, converted);
    ASSERT_FALSE(result) << "flipped byte " << target;
    EXPECT_FALSE(result.error().text.empty());
    EXPECT_FALSE(result.error().field.empty());
    EXPECT_GE(result.error().offset, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(HeaderSectorHeaderAndData, DamagedRecord,
                         ::testing::Values(0u, 1u, 2u, 57u, 204u));

TEST(ConvertDownload, TruncationAtAnyPointFails) {
  const std::vector<uint8_t>& good = SampleOf(kAppImage).download;
  std::vector<RecordPlace> places = LocateRecords(good);
  std::vector<size_t> cuts = {0,
                              1,
                              2,
                              3,
                              40,
                              78,
                              79,
                              80,
                              81,
                              100,
                              104,
                              places[2].offset + 2,
                              places[2].offset + 4,
                              places[2].crc_offset() + 2,
                              good.size() - 1};
  for (size_t cut : cuts) {
    std::vector<uint8_t> converted;
    Result<void> result = ConvertDownloadBytes(std::span(good).first(cut), kAppImage, converted);
    ASSERT_FALSE(result) << "cut at " << cut;
    EXPECT_NE(result.error().text.find("end"), std::string::npos) << result.error().text;
  }
}

TEST(ConvertDownload, LengthFieldsOutsideTheLimitsFailWithoutReadingPastThem) {
  std::vector<uint8_t> converted;
  std::vector<uint8_t> download = KeyDownloadWithData(Compress(std::vector<uint8_t>(10, 1)));
  std::vector<RecordPlace> places = LocateRecords(download);

  std::vector<uint8_t> short_length = download;
  short_length[places[1].offset + 1] = 3;
  Result<void> result = ConvertDownloadBytes(short_length, kKeyDownload, converted);
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().text.find("below 4"), std::string::npos) << result.error().text;

  // A payload one byte over the limit, present in full with a correct CRC.
  std::vector<uint8_t> huge = download;
  huge.resize(places[2].offset);
  AppendRecord(huge, kSectorDataTag, 3, std::vector<uint8_t>(kRecordLimit + 1, 0));
  result = ConvertDownloadBytes(huge, kKeyDownload, converted);
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().text.find("more than the limit"), std::string::npos)
      << result.error().text;
}

TEST(ConvertDownload, DecompressionFaultsFail) {
  std::vector<uint8_t> converted;
  // Data that decompresses past the 0x1E000-byte buffer.
  std::vector<uint8_t> big = Compress(std::vector<uint8_t>(kRecordLimit + 1, 0));
  Result<void> result = ConvertDownloadBytes(KeyDownloadWithData(big), kKeyDownload, converted);
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().text.find("more than"), std::string::npos) << result.error().text;

  // Input left after the end-of-stream marker, with the CRC made to match.
  std::vector<uint8_t> trailing = Compress(std::vector<uint8_t>(500, 7));
  trailing.push_back(0);
  result = ConvertDownloadBytes(KeyDownloadWithData(trailing), kKeyDownload, converted);
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().text.find("after the end-of-stream"), std::string::npos)
      << result.error().text;

  // Not an LZO1X stream at all.
  result = ConvertDownloadBytes(KeyDownloadWithData(sample::RandomBytes(300, 2)), kKeyDownload,
                                converted);
  EXPECT_FALSE(result);
}

TEST(ConvertDownload, FailureKeepsTheBlocksPlacedBeforeTheFaultOnDisk) {
  std::vector<uint8_t> download = SampleOf(kAppImage).download;
  std::vector<RecordPlace> places = LocateRecords(download);
  const RecordPlace& sector5_data = places[2 + 2 * 5];
  download[sector5_data.payload_offset() + 10] ^= 0xFF;
  testing::TempDir dir;
  WriteWholeFile(dir.File("bad.dld"), download);
  Result<void> result = ConvertDownload(dir.File("bad.dld"), kAppImage, dir.File("out.bin"));
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().text.find("sector 5"), std::string::npos) << result.error().text;
  std::vector<uint8_t> out = ReadWholeFile(dir.File("out.bin"));
  ASSERT_EQ(out.size(), 0x660000u);
  const std::vector<uint8_t>& image = SampleOf(kAppImage).image;
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 5 * 0x10000, image.begin()));
  EXPECT_TRUE(
      std::all_of(out.begin() + 5 * 0x10000, out.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST(ConvertDownload, MissingInputFailsWithAnErasedOutput) {
  testing::TempDir dir;
  Result<void> result =
      ConvertDownload(dir.File("absent.dld"), kDefaultDownload, dir.File("out.bin"));
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().text.find("cannot be opened"), std::string::npos);
  std::vector<uint8_t> out = ReadWholeFile(dir.File("out.bin"));
  EXPECT_EQ(out.size(), 0x40000u);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xFF; }));
}

}  // namespace
}  // namespace qv
