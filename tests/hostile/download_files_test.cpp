// Download files that are cut short or whose records lie about their lengths, opened as the
// image to edit and chosen as a key or default database.
#include <lzo/lzo1x.h>

#include <set>

#include "download/crc32.h"
#include "download/download_file.h"
#include "platform/little_endian.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/test_images.h"

namespace qv::testing {
namespace {

// Offsets at which to cut a download file: the start, around byte 60 and the header's end,
// the first bytes of the first records and of each of their fields, points spread over the
// whole file, and its last bytes.
std::vector<size_t> CutPoints(const std::vector<uint8_t>& download) {
  std::set<size_t> cuts = {0, 1, 2, 3, 59, 60, 61, 78, 79, 80};
  std::vector<RecordPlace> records = LocateRecords(download);
  for (size_t i = 1; i < records.size() && i < 5; ++i) {
    const RecordPlace& record = records[i];
    for (size_t at : {record.offset, record.offset + 1, record.payload_offset(),
                      record.payload_offset() + (record.length - 4) / 2, record.crc_offset(),
                      record.end() - 1}) {
      cuts.insert(at);
    }
  }
  for (size_t eighth = 1; eighth < 8; ++eighth)
    cuts.insert(download.size() * eighth / 8);
  cuts.insert(download.size() - 4);
  cuts.insert(download.size() - 1);
  return {cuts.begin(), cuts.end()};
}

std::vector<uint8_t> CutAt(const std::vector<uint8_t>& bytes, size_t length) {
  return {bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length)};
}

// The download with record `index` given another length field and payload, and the CRC of
// that payload.
std::vector<uint8_t> WithRecord(const std::vector<uint8_t>& download, size_t index,
                                uint32_t length_field, const std::vector<uint8_t>& payload) {
  const RecordPlace record = LocateRecords(download).at(index);
  std::vector<uint8_t> out(download.begin(),
                           download.begin() + static_cast<std::ptrdiff_t>(record.offset));
  out.push_back(record.tag);
  for (int i = 0; i < record.length_width; ++i)
    out.push_back(static_cast<uint8_t>(length_field >> (8 * i)));
  out.insert(out.end(), payload.begin(), payload.end());
  uint8_t crc[4];
  WriteLe32(crc, Crc32Update(kCrc32Initial, payload));
  out.insert(out.end(), crc, crc + 4);
  out.insert(out.end(), download.begin() + static_cast<std::ptrdiff_t>(record.end()),
             download.end());
  return out;
}

// A length field that does not match the record, the rest of the file unchanged.
std::vector<uint8_t> WithLengthField(const std::vector<uint8_t>& download, size_t index,
                                     uint32_t length_field) {
  std::vector<uint8_t> out = download;
  const RecordPlace record = LocateRecords(download).at(index);
  WriteLe(&out[record.offset + 1], length_field, record.length_width);
  return out;
}

class HostileDownload : public Hostile {};

TEST_F(HostileDownload, CutShortAtManyPointsIsRefusedByInfo) {
  for (Variant variant : {kAppImage, kAllImage, kFullImage}) {
    const std::vector<uint8_t>& whole = SampleDownload(variant);
    for (size_t cut : CutPoints(whole)) {
      std::string path = WriteInput("cut.dld", CutAt(whole, cut));
      EXPECT_TRUE(Refused(Info(path), "is not an image this tool handles"))
          << VariantLabel(variant) << " cut at " << cut;
    }
  }
  ExpectNoResult();
}

TEST_F(HostileDownload, CutShortIsRefusedByBuildWithNothingLeft) {
  const std::vector<uint8_t>& whole = SampleDownload(kAllImage);
  for (size_t cut :
       {size_t{0}, size_t{40}, size_t{79}, size_t{100}, whole.size() / 2, whole.size() - 1}) {
    std::string path = WriteInput("box.dld", CutAt(whole, cut));
    EXPECT_TRUE(Refused(Build(path), cut < 61 ? "Open file type error!" : "dld to bin wrong!"))
        << cut;
    ExpectNoResult();
  }
}

TEST_F(HostileDownload, RecordsWithAbsurdLengthsAreRefused) {
  const std::vector<uint8_t>& whole = SampleDownload(kFullImage);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases = {
      {"header length 0", WithLengthField(whole, 0, 0)},
      {"header length 3", WithLengthField(whole, 0, 3)},
      {"header length 0xFFFF", WithLengthField(whole, 0, 0xFFFF)},
      {"sector header length 0", WithLengthField(whole, 1, 0)},
      {"sector header length 0xFF", WithLengthField(whole, 1, 0xFF)},
      {"sector data length 3", WithLengthField(whole, 2, 3)},
      {"sector data length 0x1E005", WithLengthField(whole, 2, kRecordLimit + 5)},
      {"sector data length 0xFFFFFF", WithLengthField(whole, 2, 0xFFFFFF)},
      {"last sector data length 0xFFFFFF",
       WithLengthField(whole, LocateRecords(whole).size() - 1, 0xFFFFFF)},
      {"empty sector data", WithRecord(whole, 2, 4, {})},
  };
  for (const auto& [what, bytes] : cases) {
    std::string path = WriteInput("box.dld", bytes);
    EXPECT_TRUE(Refused(Info(path), "cannot be converted")) << what;
  }
  // One build for the kind of refusal that a length field gives.
  EXPECT_TRUE(Refused(Build(WriteInput("box.dld", cases[7].second)), "dld to bin wrong!"));
  ExpectNoResult();
}

TEST_F(HostileDownload, SectorDataThatDecompressesPastTheLimitIsRefused) {
  // A sound LZO1X stream, with a true CRC, of more bytes than any sector holds.
  EnsureLzoReady();
  std::vector<uint8_t> plain(kRecordLimit + 0x2000, 0x5A);
  std::vector<uint8_t> packed(plain.size() + plain.size() / 16 + 67);
  std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS);
  lzo_uint length = 0;
  ASSERT_EQ(lzo1x_1_compress(plain.data(), plain.size(), packed.data(), &length, work.data()),
            LZO_E_OK);
  packed.resize(length);
  const std::vector<uint8_t>& whole = SampleDownload(kAllImage);
  std::string path =
      WriteInput("box.dld", WithRecord(whole, 2, static_cast<uint32_t>(packed.size() + 4), packed));
  HostileRun run = Info(path);
  EXPECT_TRUE(Refused(run, "decompresses to more than"));
  EXPECT_TRUE(Refused(Build(path), "dld to bin wrong!"));
  ExpectNoResult();
}

TEST_F(HostileDownload, PartitionCountsOfNoImageAreRefused) {
  for (uint8_t count : {0, 1, 4, 101, 255}) {
    std::vector<uint8_t> bytes = SampleDownload(kAppImage);
    bytes[60] = count;
    EXPECT_TRUE(Refused(Build(WriteInput("box.dld", bytes)), "Open file type error!"))
        << int{count};
  }
  ExpectNoResult();
}

TEST_F(HostileDownload, BrokenKeyAndDatabaseDownloadsAreRefused) {
  std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  sample::DownloadSpec key_spec;
  key_spec.variant = kKeyDownload;
  std::vector<uint8_t> key = sample::BuildDownload(sample::RandomBytes(0x10000, 5), key_spec);
  sample::DownloadSpec database_spec;
  database_spec.variant = kDefaultDownload;
  std::vector<uint8_t> database =
      sample::BuildDownload(sample::CodeLikeBytes(0x40000, 6), database_spec);

  EXPECT_TRUE(Refused(Build(image, {"--key", WriteInput("key.dld", CutAt(key, key.size() - 3))}),
                      "dld to bin wrong!"));
  EXPECT_TRUE(
      Refused(Build(image, {"--key", WriteInput("key.dld", WithLengthField(key, 2, 0xFFFFFF))}),
              "dld to bin wrong!"));
  EXPECT_TRUE(Refused(Build(image, {"--default-db", WriteInput("db.dld", CutAt(database, 50))}),
                      "partition number wrong!"));
  EXPECT_TRUE(
      Refused(Build(image, {"--default-db", WriteInput("db.dld", WithLengthField(database, 4, 2))}),
              "dld to bin wrong!"));
  ExpectNoResult();
}

}  // namespace
}  // namespace qv::testing
