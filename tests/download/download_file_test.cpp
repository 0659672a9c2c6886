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

// DownloadHoldsImage says what converting the download and comparing would say: for sound
// downloads of every variant and the unusual ones the sequential walk handles (a short block,
// blocks longer than their sectors), and for images that differ in a sector, in erased space
// between blocks, or in length; a download that cannot be converted gives the same error.
TEST(DownloadHoldsImage, AgreesWithConvertingAndComparing) {
  std::vector<std::pair<std::vector<uint8_t>, Variant>> downloads;
  for (Variant variant : {kAppImage, kAllImage, kFullImage})
    downloads.emplace_back(SampleOf(variant).download, variant);
  downloads.emplace_back(KeyDownloadWithData(Compress(std::vector<uint8_t>(100, 0x42))),
                         kKeyDownload);
  std::vector<uint8_t> longer_blocks;
  AppendRecord(longer_blocks, kHeaderTag, 2, std::vector<uint8_t>(kHeaderPayloadSize, 0));
  for (auto [length, fill] : {std::pair<uint32_t, uint8_t>{0x10010, 0x11},
                              {0x10000, 0x22},
                              {0x100, 0x33},
                              {0x10020, 0x44}}) {
    AppendRecord(longer_blocks, kSectorHeaderTag, 1, std::vector<uint8_t>(20, 0));
    AppendRecord(longer_blocks, kSectorDataTag, 3, Compress(std::vector<uint8_t>(length, fill)));
  }
  downloads.emplace_back(longer_blocks, kDefaultDownload);

  for (const auto& [download, variant] : downloads) {
    SCOPED_TRACE(testing::VariantLabel(variant));
    std::vector<uint8_t> image;
    ASSERT_TRUE(ConvertDownloadBytes(download, variant, image));
    EXPECT_EQ(DownloadHoldsImage(download, variant, image), true);

    // Changed in the first block, at the last byte, and at the first erased byte past the
    // start (inside a block, or in space that no block covers: the short block's tail).
    std::vector<size_t> changes = {0x10, image.size() - 1};
    auto erased = std::find(image.begin() + 0x200, image.end(), 0xFF);
    if (erased != image.end()) changes.push_back(static_cast<size_t>(erased - image.begin()));
    for (size_t at : changes) {
      std::vector<uint8_t> changed = image;
      changed[at] ^= 0x01;
      EXPECT_EQ(DownloadHoldsImage(download, variant, changed), false) << at;
    }
    std::vector<uint8_t> shorter(image.begin(), image.end() - 1);
    EXPECT_EQ(DownloadHoldsImage(download, variant, shorter), false);
    std::vector<uint8_t> longer = image;
    longer.push_back(0xFF);
    EXPECT_EQ(DownloadHoldsImage(download, variant, longer), false);

    std::vector<uint8_t> damaged = download;
    damaged[LocateRecords(download).back().crc_offset()] ^= 0x80;
    std::vector<uint8_t> partial;
    Result<void> converted = ConvertDownloadBytes(damaged, variant, partial);
    ASSERT_FALSE(converted);
    Result<bool> held = DownloadHoldsImage(damaged, variant, image);
    ASSERT_FALSE(held);
    EXPECT_EQ(held.error().text, converted.error().text);
  }
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

// ---------------------------------------------------------------------------------------------
// The record listing: every record with its verdict, and what the file holds besides them.

// The listing of bytes that are the whole file. The bytes are copied into a buffer of their own
// size, so that a read past them is a read past a heap block, which the sanitizers report.
DownloadListing ListWhole(std::span<const uint8_t> download, Variant variant) {
  std::vector<uint8_t> exact(download.begin(), download.end());
  return ListDownloadRecords(exact, variant, static_cast<int64_t>(exact.size()));
}

std::vector<DownloadFindingKind> KindsOf(const DownloadListing& listing) {
  std::vector<DownloadFindingKind> kinds;
  for (const DownloadFinding& finding : listing.findings)
    kinds.push_back(finding.kind);
  return kinds;
}

// The records with a problem, by their index in the listing.
std::vector<size_t> FaultyRecords(const DownloadListing& listing) {
  std::vector<size_t> faulty;
  for (size_t i = 0; i < listing.records.size(); ++i) {
    if (!listing.records[i].problem.empty()) faulty.push_back(i);
  }
  return faulty;
}

// A conversion fails exactly when the listing finds a faulty record or a stream that breaks off:
// the listing adds findings of its own, never misses one of the conversion's.
void ExpectAgreesWithConversion(std::span<const uint8_t> download, Variant variant,
                                const DownloadListing& listing) {
  std::vector<uint8_t> converted;
  const bool converts = ConvertDownloadBytes(download, variant, converted).has_value();
  bool breaks = !FaultyRecords(listing).empty();
  for (const DownloadFinding& finding : listing.findings) {
    breaks = breaks || finding.kind == DownloadFindingKind::kCutShort ||
             finding.kind == DownloadFindingKind::kNoRecord;
  }
  EXPECT_EQ(converts, !breaks);
}

class ListsEveryVariant : public ::testing::TestWithParam<Variant> {};

TEST_P(ListsEveryVariant, SoundFileRecordByRecord) {
  const Variant variant = GetParam();
  std::vector<uint8_t> download;
  if (LayoutOf(variant)) {
    download = SampleOf(variant).download;
  } else {
    sample::DownloadSpec spec;
    spec.variant = variant;
    download =
        BuildDownload(sample::CodeLikeBytes(ErasedBlockCount(variant) * kBlockSize, 3), spec);
  }
  const DownloadListing listing = ListWhole(download, variant);
  EXPECT_TRUE(listing.Sound());
  EXPECT_TRUE(listing.findings.empty());
  const std::vector<RecordPlace> places = LocateRecords(download);
  ASSERT_EQ(listing.records.size(), places.size());
  ASSERT_EQ(places.size(), size_t(1 + 2 * BlockCount(variant)));
  for (size_t i = 0; i < places.size(); ++i) {
    const DownloadRecord& record = listing.records[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(record.offset, int64_t(places[i].offset));
    EXPECT_EQ(record.length, places[i].length);
    EXPECT_EQ(FormatOf(record.type).tag, places[i].tag);
    EXPECT_EQ(record.sector, i == 0 ? -1 : int(i - 1) / 2);
    EXPECT_TRUE(record.crc_ok);
    if (record.type == RecordType::kSectorData) {
      EXPECT_EQ(record.data_size, BlockSize(variant, record.sector));
    } else {
      EXPECT_FALSE(record.data_size);
    }
  }
  EXPECT_EQ(listing.stream_end, int64_t(download.size()));
  EXPECT_EQ(listing.walk_end, int64_t(download.size()));
}

INSTANTIATE_TEST_SUITE_P(Variants, ListsEveryVariant,
                         ::testing::Values(kKeyDownload, kDefaultDownload, kAppImage, kAllImage,
                                           kFullImage),
                         testing::VariantParamName());

// Cut at every record boundary and inside every part of a record: the records before the cut
// are listed sound, the cut is the one finding, and nothing past the bytes is read.
TEST(ListDownloadRecords, TruncationAtEveryRecordBoundaryAndInsideRecords) {
  const std::vector<uint8_t>& whole = SampleOf(kAppImage).download;
  const std::vector<RecordPlace> places = LocateRecords(whole);
  std::vector<size_t> cuts;
  for (const RecordPlace& place : places) {
    cuts.push_back(place.offset);
    cuts.push_back(place.offset + 1);
    cuts.push_back(place.payload_offset());
    cuts.push_back(place.payload_offset() + (place.length - 4) / 2);
    cuts.push_back(place.crc_offset() + 3);
  }
  for (size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    const DownloadListing listing = ListWhole(std::span(whole).first(cut), kAppImage);
    // A whole header still gives the size of the whole file.
    std::vector<DownloadFindingKind> expected = {DownloadFindingKind::kCutShort};
    if (cut >= kHeaderRecordSize) expected.push_back(DownloadFindingKind::kTotalSizeDiffers);
    ASSERT_EQ(KindsOf(listing), expected);
    const size_t whole_records =
        size_t(std::count_if(places.begin(), places.end(),
                             [&](const RecordPlace& place) { return place.end() <= cut; }));
    EXPECT_EQ(listing.records.size(), whole_records);
    // The finding names the record that is missing or cut, where it begins.
    EXPECT_EQ(listing.findings[0].offset, int64_t(places[whole_records].offset))
        << listing.findings[0].text;
    EXPECT_TRUE(FaultyRecords(listing).empty());
    EXPECT_FALSE(listing.Sound());
    ExpectAgreesWithConversion(std::span(whole).first(cut), kAppImage, listing);
  }
}

TEST(ListDownloadRecords, AFlippedCrcMarksItsRecordAndTheWalkGoesOn) {
  const std::vector<uint8_t>& good = SampleOf(kAppImage).download;
  const std::vector<RecordPlace> places = LocateRecords(good);
  // A payload byte of sector 7's data, the stored CRC of sector 30's header, the header's CRC.
  const std::pair<size_t, size_t> flips[] = {
      {2 + 2 * 7, places[2 + 2 * 7].payload_offset() + 100},
      {1 + 2 * 30, places[1 + 2 * 30].crc_offset() + 1},
      {0, places[0].crc_offset()},
  };
  for (auto [index, at] : flips) {
    SCOPED_TRACE("record " + std::to_string(index));
    std::vector<uint8_t> download = good;
    download[at] ^= 0x10;
    const DownloadListing listing = ListWhole(download, kAppImage);
    ASSERT_EQ(listing.records.size(), places.size());
    EXPECT_EQ(FaultyRecords(listing), std::vector{index});
    EXPECT_FALSE(listing.records[index].crc_ok);
    EXPECT_NE(listing.records[index].problem.find("its CRC is"), std::string::npos);
    EXPECT_FALSE(listing.records[index].data_size);  // damaged data is not decompressed
    // A header with a false CRC says nothing of the file's size.
    EXPECT_TRUE(listing.findings.empty());
    ExpectAgreesWithConversion(download, kAppImage, listing);
  }
}

TEST(ListDownloadRecords, TrailingDataAndSurplusPairsAreFindings) {
  const std::vector<uint8_t>& good = SampleOf(kAppImage).download;
  const std::vector<RecordPlace> places = LocateRecords(good);
  const int64_t size = int64_t(good.size());

  // Bytes that are no record after the last one, also when they begin with a record's tag.
  for (std::vector<uint8_t> tail :
       {std::vector<uint8_t>(10, 0), std::vector<uint8_t>{0x33, 0x20, 0x00}}) {
    std::vector<uint8_t> download = good;
    download.insert(download.end(), tail.begin(), tail.end());
    const DownloadListing listing = ListWhole(download, kAppImage);
    EXPECT_EQ(KindsOf(listing), (std::vector{DownloadFindingKind::kDataAfterStream,
                                             DownloadFindingKind::kTotalSizeDiffers}));
    EXPECT_EQ(listing.findings[0].offset, size);
    EXPECT_EQ(listing.stream_end, size);
    EXPECT_TRUE(FaultyRecords(listing).empty());
  }
  // The bytes held end at the input bound; the file goes on past them.
  DownloadListing listing = ListDownloadRecords(good, kAppImage, size + 0x100000);
  EXPECT_EQ(KindsOf(listing), (std::vector{DownloadFindingKind::kDataAfterStream,
                                           DownloadFindingKind::kTotalSizeDiffers}));
  EXPECT_NE(listing.findings[0].text.find("1048576 bytes"), std::string::npos)
      << listing.findings[0].text;

  // Two more copies of sector pair 0: listed, as sectors past the variant's, which the
  // conversion ignores.
  std::vector<uint8_t> download = good;
  for (int copy = 0; copy < 2; ++copy)
    download.insert(download.end(), good.begin() + places[1].offset,
                    good.begin() + places[2].end());
  listing = ListWhole(download, kAppImage);
  EXPECT_EQ(KindsOf(listing), (std::vector{DownloadFindingKind::kSectorsBeyondVariant,
                                           DownloadFindingKind::kTotalSizeDiffers}));
  ASSERT_EQ(listing.records.size(), places.size() + 4);
  EXPECT_EQ(listing.records.back().sector, 103);
  EXPECT_TRUE(FaultyRecords(listing).empty());
  EXPECT_EQ(listing.stream_end, size);
  EXPECT_EQ(listing.walk_end, int64_t(download.size()));
  ExpectAgreesWithConversion(download, kAppImage, listing);

  // Endless surplus records are listed up to a bound.
  download = good;
  for (int copy = 0; copy < 100; ++copy)
    download.insert(download.end(), good.begin() + places[1].offset,
                    good.begin() + places[1].end());
  listing = ListWhole(download, kAppImage);
  EXPECT_EQ(listing.records.size(), places.size() + kMostRecordsBeyondStream);
  EXPECT_EQ(KindsOf(listing)[0], DownloadFindingKind::kTooManyRecords);
}

TEST(ListDownloadRecords, SectorsThatDecompressPastTheirSectorOrTheImage) {
  // Default database downloads: four 64 KiB sectors, an image of 0x40000 bytes.
  std::vector<uint8_t> download;
  AppendRecord(download, kHeaderTag, 2, std::vector<uint8_t>(kHeaderPayloadSize, 0));
  for (uint32_t length : {0x10010u, 0x10000u, 0x100u, 0x10020u}) {
    AppendRecord(download, kSectorHeaderTag, 1, std::vector<uint8_t>(20, 0));
    AppendRecord(download, kSectorDataTag, 3, Compress(std::vector<uint8_t>(length, 0x5A)));
  }
  WriteLe24(&download[kTotalSizeOffset], uint32_t(download.size()));
  WriteLe32(&download[kHeaderCrcOffset], Crc32(&download[3], kHeaderPayloadSize));
  const DownloadListing listing = ListWhole(download, kDefaultDownload);
  EXPECT_EQ(KindsOf(listing), (std::vector{DownloadFindingKind::kSectorPastItsSector,
                                           DownloadFindingKind::kSectorPastImage}));
  EXPECT_EQ(listing.findings[0].offset, listing.records[2].offset);
  EXPECT_NE(listing.findings[1].text.find("sector 3"), std::string::npos);
  EXPECT_EQ(listing.records[6].data_size, 0x100u);  // shorter than its sector: no finding
  EXPECT_TRUE(FaultyRecords(listing).empty());
  ExpectAgreesWithConversion(download, kDefaultDownload, listing);
}

TEST(ListDownloadRecords, RecordsOutOfTheirOrderAndBytesThatAreNoRecord) {
  const std::vector<uint8_t>& good = SampleOf(kAppImage).download;
  const std::vector<RecordPlace> places = LocateRecords(good);

  // Sector 5 without its header record: its data stands where the header belongs, and every
  // record after it is in place again.
  std::vector<uint8_t> download = good;
  download.erase(download.begin() + places[1 + 2 * 5].offset,
                 download.begin() + places[1 + 2 * 5].end());
  DownloadListing listing = ListWhole(download, kAppImage);
  ASSERT_EQ(listing.records.size(), places.size() - 1);
  EXPECT_EQ(FaultyRecords(listing), std::vector<size_t>{1 + 2 * 5});
  EXPECT_EQ(listing.records[1 + 2 * 5].sector, 5);
  EXPECT_NE(listing.records[1 + 2 * 5].problem.find("where the sector header record of sector 5"),
            std::string::npos);
  EXPECT_EQ(listing.records.back().sector, 101);
  EXPECT_EQ(KindsOf(listing), std::vector{DownloadFindingKind::kTotalSizeDiffers});
  ExpectAgreesWithConversion(download, kAppImage, listing);

  // A second download header record takes no sector's place.
  download = good;
  download.insert(download.begin() + places[3].offset, good.begin(),
                  good.begin() + places[0].end());
  listing = ListWhole(download, kAppImage);
  EXPECT_EQ(FaultyRecords(listing), std::vector<size_t>{3});
  EXPECT_EQ(listing.records.size(), places.size() + 1);
  ExpectAgreesWithConversion(download, kAppImage, listing);

  // A tag of no record where sector 9's header should begin ends the walk there.
  download = good;
  download[places[1 + 2 * 9].offset] = 0x44;
  listing = ListWhole(download, kAppImage);
  EXPECT_EQ(KindsOf(listing)[0], DownloadFindingKind::kNoRecord);
  EXPECT_EQ(listing.findings[0].offset, int64_t(places[1 + 2 * 9].offset));
  EXPECT_EQ(listing.records.size(), size_t(1 + 2 * 9));
  ExpectAgreesWithConversion(download, kAppImage, listing);
}

TEST(ListDownloadRecords, LengthFieldsAndHeaderFields) {
  const std::vector<uint8_t>& good = SampleOf(kAppImage).download;
  const std::vector<RecordPlace> places = LocateRecords(good);

  // A sector header record whose length field is 2: framed by it, and the walk goes on from
  // where that length ends, which is no record.
  std::vector<uint8_t> download = good;
  download[places[3].offset + 1] = 2;
  DownloadListing listing = ListWhole(download, kAppImage);
  ASSERT_GE(listing.records.size(), 4u);
  EXPECT_NE(listing.records[3].problem.find("below 4"), std::string::npos);
  EXPECT_FALSE(listing.Sound());
  ExpectAgreesWithConversion(download, kAppImage, listing);

  // A sector data record's length past the end of the file.
  download = good;
  WriteLe24(&download[places[4].offset + 1], 0xFFFFFF);
  listing = ListWhole(download, kAppImage);
  EXPECT_EQ(KindsOf(listing)[0], DownloadFindingKind::kCutShort);
  EXPECT_EQ(listing.records.size(), 4u);
  ExpectAgreesWithConversion(download, kAppImage, listing);

  // A header whose total size is not the file's, with its CRC made to match.
  download = good;
  WriteLe24(&download[kTotalSizeOffset], uint32_t(download.size() + 1));
  WriteLe32(&download[kHeaderCrcOffset], Crc32(&download[3], kHeaderPayloadSize));
  listing = ListWhole(download, kAppImage);
  EXPECT_EQ(KindsOf(listing), std::vector{DownloadFindingKind::kTotalSizeDiffers});
  EXPECT_TRUE(FaultyRecords(listing).empty());

  // A header of 71 bytes is no header the loader reads.
  download = good;
  download.erase(download.begin() + 3 + 70);
  WriteLe16(&download[1], kHeaderPayloadSize - 1 + 4);
  WriteLe32(&download[3 + 71], Crc32(&download[3], kHeaderPayloadSize - 1));
  listing = ListWhole(download, kAppImage);
  EXPECT_EQ(FaultyRecords(listing), std::vector<size_t>{0});
  EXPECT_NE(listing.records[0].problem.find("not 72"), std::string::npos);
}

}  // namespace
}  // namespace qv
