#include "bintodld/converter.h"

#include <gtest/gtest.h>
#include <lzo/lzo1x.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "download/crc32.h"
#include "download/download_file.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "workfiles/header_configs.h"

namespace qv::bintodld {
namespace {

using qv::testing::TempDir;

struct Sample {
  sample::ImageSpec spec;
  std::vector<uint8_t> image;
};

const Sample& SampleOf(Variant variant) {
  static std::map<Variant, Sample> samples;
  auto found = samples.find(variant);
  if (found == samples.end()) {
    Sample sample{sample::DefaultImageSpec(variant), {}};
    sample.image = sample::BuildFlashImage(sample.spec);
    found = samples.emplace(variant, std::move(sample)).first;
  }
  return found->second;
}

// manufacturer.cfg as the tool writes it for `image`: its nine lines, each ended by CR LF.
void WriteManufacturerCfg(const std::vector<uint8_t>& image, Variant variant,
                          const std::string& cfg_path) {
  Result<FlashImage> parsed = FlashImage::Parse(image, variant);
  ASSERT_TRUE(parsed) << parsed.error().text;
  std::string text;
  for (const std::string& line : ManufacturerCfgLines(parsed->manufacturer()))
    text += line + "\r\n";
  testing::WriteBytes(cfg_path, std::vector<uint8_t>(text.begin(), text.end()));
}

const std::string kManufacturerCfg =
    "[Manufacturer_Data]\r\n\r\nIDENT_NOCHECH\t \t= 1\t        \t1\r\n"
    "MANUFACTURE_IDENT \t= QV\t\t\t15\r\nHARDWARE_MODULE \t= M          \t8\r\n"
    "HARDWARE_VERSION \t= 1         \t\t8\r\nSOFTWARE_MODULE \t= S            \t8\r\n"
    "SOFTWARE_VERSION \t= 2        \t8\r\nSTB_ID\t\t\t= 0x0000000000000001\t8\r\n";

// A download header configuration listing one sector of each given size from flash 0,
// with the given header lines in place of the shipped ones.
std::string SmallCfg(const std::vector<uint32_t>& sizes, const std::string& encrypt_flag = "1") {
  char line[160];
  std::snprintf(
      line, sizeof line,
      "[DownloadHeader_Data]\r\n\r\nDOWNLOAD_TYPE = 8 1\r\nPARTITION_COUNT = %zu 1\r\n"
      "TRANS_TOTAL_SIZE = 0x000000 3\r\nSTB_PROJECT_SELECT = 2 1\r\nCOMPRESS_FLAG = 1 1\r\n",
      sizes.size());
  std::string text = line;
  text += "ENCRYPT_FLAG = " + encrypt_flag + " 1\r\nENCRYPT_KEY = 0X5D3A96C1E07B428F 8\r\n\r\n";
  text += "[Flash_Download_Configuration]\r\n\r\n";
  uint32_t start = 0xA0000000;
  for (uint32_t size : sizes) {
    std::snprintf(line, sizeof line,
                  "MEMORY_TYPE = 0 1\r\nBLK_START = 0x%08X 4\r\nBLK_SIZE = 0X%06X 3\r\n\r\n", start,
                  size);
    text += line;
    start += size;
  }
  return text;
}

// The text with its one occurrence of `from` replaced.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

void WriteText(const std::string& path, const std::string& text) {
  testing::WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<std::string> FileNames(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct Outcome {
  int status;
  std::string out;
};

Outcome RunInProcess(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  int status = RunBintodld(arguments, out);
  return {status, out.str()};
}

// Runs the built program with an argument list.
Outcome RunProgram(const TempDir&, const std::vector<std::string>& arguments) {
  std::vector<std::string> all = {QV_BINTODLD_PROGRAM};
  all.insert(all.end(), arguments.begin(), arguments.end());
  testing::ProgramRun run = testing::RunProgram(all);
  return {run.exit_status, run.output};
}

class RoundTrip : public ::testing::TestWithParam<Variant> {};

TEST_P(RoundTrip, TheDownloadConvertsBackToTheImageByteForByte) {
  const Variant variant = GetParam();
  const Sample& sample = SampleOf(variant);
  TempDir dir;
  testing::WriteBytes(dir.File("box_Merge.bin"), sample.image);
  WriteManufacturerCfg(sample.image, variant, dir.File("manufacturer.cfg"));
  const HeaderConfig& config = *HeaderConfigFor(variant);
  WriteHeaderConfig(config, dir.File(std::string(config.name)));

  Outcome run = RunInProcess({dir.File("manufacturer.cfg"), dir.File(std::string(config.name)),
                              dir.File("box_Merge.bin")});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::vector<uint8_t> download = testing::ReadBytes(dir.File("box_Merge.dld"));
  std::vector<std::string> expected_names = {"box_Merge.bin", "box_Merge.dld",
                                             std::string(config.name), "manufacturer.cfg"};
  std::sort(expected_names.begin(), expected_names.end());
  EXPECT_EQ(FileNames(dir), expected_names);

  Result<void> back = ConvertDownload(dir.File("box_Merge.dld"), variant, dir.File("back.bin"));
  ASSERT_TRUE(back) << back.error().text;
  EXPECT_TRUE(testing::ReadBytes(dir.File("back.bin")) == sample.image);

  // The header: the manufacturer block's identity, the partition count, the file's own
  // length, and the CRC over bytes 3 to 74 taken after that length was written.
  const sample::DownloadSpec expected = sample::DownloadSpecFor(sample.spec);
  ASSERT_GE(download.size(), 79u);
  EXPECT_TRUE(std::equal(expected.identity.begin(), expected.identity.end(), download.begin() + 3));
  EXPECT_EQ(download[59], expected.download_type);
  EXPECT_EQ(download[60], BlockCount(variant));
  EXPECT_EQ(ReadLe24(&download[61]), download.size());
  EXPECT_EQ(ReadLe32(&download[75]), Crc32(&download[3], 72));

  std::vector<testing::RecordPlace> places = testing::LocateRecords(download);
  ASSERT_EQ(places.size(), 1u + 2u * BlockCount(variant));
  EXPECT_EQ(places.back().end(), download.size());
  EXPECT_EQ(std::vector<uint8_t>(download.begin(), download.begin() + 3),
            (std::vector<uint8_t>{0x11, 0x4C, 0x00}));
  for (size_t i = 1; i < places.size(); i += 2) {
    EXPECT_EQ(download[places[i].offset], 0x22);
    EXPECT_EQ(download[places[i].offset + 1], 0x18);
    EXPECT_EQ(download[places[i + 1].offset], 0x33);
  }

  // An independent writer of the same format, with the same compressor, agrees on every byte.
  EXPECT_TRUE(download == sample::BuildDownload(sample.image, expected));
}

INSTANTIATE_TEST_SUITE_P(Variants, RoundTrip, ::testing::Values(kAppImage, kAllImage, kFullImage),
                         testing::VariantParamName());

TEST(Bintodld, TracesEverySectorInOrder) {
  TempDir dir;
  std::vector<uint8_t> image = sample::CodeLikeBytes(0x10000 + 0x2000, 3);
  testing::WriteBytes(dir.File("x.bin"), image);
  WriteText(dir.File("m.cfg"), kManufacturerCfg);
  WriteText(dir.File("h.cfg"), SmallCfg({0x10000, 0x2000}));
  Outcome run = RunInProcess({dir.File("m.cfg"), dir.File("h.cfg"), dir.File("x.bin")});
  ASSERT_EQ(run.status, 0) << run.out;

  std::vector<uint8_t> download = testing::ReadBytes(dir.File("x.dld"));
  std::vector<testing::RecordPlace> places = testing::LocateRecords(download);
  ASSERT_EQ(places.size(), 5u);
  char expected[1024];
  std::snprintf(expected, sizeof expected,
                "\nThe Size of download Header is 72\nThe Number of Partition  is 2\nThe Size of "
                "Partition head is 20\n"
                "\nParition number is 0\nThe uiCurrPartSize is 10000\nCompress is success!!\n"
                "The uiCurrPartCompSize is %x\n\n"
                "\nParition number is 1\nThe uiCurrPartSize is 2000\nCompress is success!!\n"
                "The uiCurrPartCompSize is %x\n\n"
                "\n\n---------iDlDataLen  is [%zu]------\n\n",
                places[2].length - 4, places[4].length - 4, download.size());
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(download.size(), 79u + 2 * 34u + (places[2].length - 4) + (places[4].length - 4));
}

TEST(Bintodld, TransferUnitsCountWholeThousandsOfTheDataRecord) {
  // Sectors whose compressed data is exactly 992 and 993 bytes: data records of 1,000 and
  // 1,001 bytes.
  EnsureLzoReady();
  std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS);
  std::vector<uint8_t> packed(4096);
  std::map<lzo_uint, std::vector<uint8_t>> by_length;
  for (size_t size = 940; size < 1000; ++size) {
    std::vector<uint8_t> data = sample::RandomBytes(size, 7);
    lzo_uint length = 0;
    lzo1x_1_compress(data.data(), data.size(), packed.data(), &length, work.data());
    by_length.emplace(length, std::move(data));
  }
  for (auto [length, units] :
       {std::pair<lzo_uint, int>{992, 1}, std::pair<lzo_uint, int>{993, 2}}) {
    ASSERT_TRUE(by_length.count(length)) << "no sector compresses to " << length;
    const std::vector<uint8_t>& data = by_length[length];
    TempDir dir;
    testing::WriteBytes(dir.File("x.bin"), data);
    WriteText(dir.File("m.cfg"), kManufacturerCfg);
    WriteText(dir.File("h.cfg"), SmallCfg({static_cast<uint32_t>(data.size())}));
    ASSERT_EQ(RunInProcess({dir.File("m.cfg"), dir.File("h.cfg"), dir.File("x.bin")}).status, 0);
    std::vector<uint8_t> download = testing::ReadBytes(dir.File("x.dld"));
    std::vector<testing::RecordPlace> places = testing::LocateRecords(download);
    ASSERT_EQ(places.size(), 3u);
    EXPECT_EQ(places[2].end() - places[2].offset, length + 8);
    EXPECT_EQ(download[places[1].payload_offset() + 19], units) << length;
  }
}

// COMPRESS_FLAG 0: 19-byte sector header records whose transfer units count the raw sector,
// raw sector data, and a TRANS_TOTAL_SIZE that is still the file's own length (7 bytes a
// sector less than in the compressed form), whatever PARTITION_COUNT says.
TEST(Bintodld, TheUncompressedFormCarriesTheRawSectors) {
  TempDir dir;
  std::vector<uint8_t> image = sample::CodeLikeBytes(0x2000 + 0x1000, 8);
  testing::WriteBytes(dir.File("x.bin"), image);
  WriteText(dir.File("m.cfg"), kManufacturerCfg);
  std::string cfg = Replace(SmallCfg({0x2000, 0x1000}), "COMPRESS_FLAG = 1", "COMPRESS_FLAG = 0");
  WriteText(dir.File("h.cfg"), Replace(cfg, "PARTITION_COUNT = 2", "PARTITION_COUNT = 7"));
  Outcome run = RunInProcess({dir.File("m.cfg"), dir.File("h.cfg"), dir.File("x.bin")});
  ASSERT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find("Compress"), std::string::npos);

  std::vector<uint8_t> download = testing::ReadBytes(dir.File("x.dld"));
  EXPECT_EQ(download.size(), 79u + 2 * 27u + image.size());
  EXPECT_EQ(ReadLe24(&download[61]), download.size());
  EXPECT_EQ(ReadLe32(&download[75]), Crc32(&download[3], 72));
  std::vector<testing::RecordPlace> places = testing::LocateRecords(download);
  ASSERT_EQ(places.size(), 5u);
  size_t at = 0;
  for (size_t n = 0; n < 2; ++n) {
    const testing::RecordPlace& head = places[1 + 2 * n];
    const testing::RecordPlace& data = places[2 + 2 * n];
    const uint8_t* payload = &download[head.payload_offset()];
    const uint32_t size = ReadLe24(payload + 5);
    ASSERT_EQ(head.length, 17u);
    EXPECT_EQ(payload[12], (size + 8 + 999) / 1000);
    EXPECT_EQ(ReadLe32(payload + 13), Crc32(payload, 13));
    ASSERT_EQ(data.length, size + 4);
    EXPECT_TRUE(std::equal(image.begin() + at, image.begin() + at + size,
                           &download[data.payload_offset()]));
    EXPECT_EQ(ReadLe32(&download[data.crc_offset()]), ReadLe32(payload + 8));
    EXPECT_EQ(ReadLe32(payload + 8), Crc32(&image[at], static_cast<int32_t>(size)));
    at += size;
  }
}

TEST(Bintodld, ImageNamesAndSurplusBytes) {
  TempDir dir;
  std::vector<uint8_t> image = sample::CodeLikeBytes(0x2000 + 100, 4);  // 100 bytes past the sector
  testing::WriteBytes(dir.File("a.BIN"), image);
  testing::WriteBytes(dir.File("b.img"), image);
  WriteText(dir.File("m.cfg"), kManufacturerCfg);
  WriteText(dir.File("h.cfg"), SmallCfg({0x2000}));

  Outcome upper = RunInProcess({dir.File("m.cfg"), dir.File("h.cfg"), dir.File("a.BIN")});
  EXPECT_EQ(upper.status, 0);
  EXPECT_TRUE(upper.out.starts_with("\nThe Size of download Header is 72\n")) << upper.out;
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(testing::ReadBytes(dir.File("a.dld")), kKeyDownload, converted));
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 0x2000, converted.begin()));

  Outcome other = RunInProcess({dir.File("m.cfg"), dir.File("h.cfg"), dir.File("b.img")});
  EXPECT_EQ(other.status, 0);
  EXPECT_TRUE(
      other.out.starts_with("The input file  is wrong!it shoule be :  filename.bin!\n\nThe Size"));
  EXPECT_TRUE(FileExists(dir.File("b.dld")));

  EXPECT_EQ(DownloadNameFor("dir.x/box_Merge.bin"), "dir.x/box_Merge.dld");
  EXPECT_EQ(DownloadNameFor("bin"), "dld");
  EXPECT_EQ(DownloadNameFor("/tmp/bin"), "/tmp/dld");
  EXPECT_EQ(DownloadNameFor("/tmp/ab"), std::nullopt);
}

TEST(Bintodld, RunsAsAProgramWithItsExitStatus) {
  TempDir dir;
  testing::WriteBytes(dir.File("x.bin"), sample::CodeLikeBytes(0x2000, 5));
  WriteText(dir.File("m.cfg"), kManufacturerCfg);
  WriteText(dir.File("h.cfg"), SmallCfg({0x2000}));

  Outcome usage = RunProgram(dir, {"x.bin"});
  EXPECT_EQ(usage.status, 1);
  EXPECT_EQ(usage.out, "Wrong format!\nThe format must be : bintodld *.bin!\n");

  Outcome good = RunProgram(dir, {dir.File("m.cfg"), dir.File("h.cfg"), dir.File("x.bin")});
  EXPECT_EQ(good.status, 0) << good.out;
  EXPECT_TRUE(good.out.ends_with("------\n\n")) << good.out;
  EXPECT_EQ(ReadLe24(&testing::ReadBytes(dir.File("x.dld"))[61]),
            static_cast<uint32_t>(FileSize(dir.File("x.dld"))));

  Outcome missing = RunProgram(dir, {dir.File("m.cfg"), dir.File("absent.cfg"), dir.File("x.bin")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "Can not open the input file!\n");
  EXPECT_FALSE(FileExists(dir.File("x.dld")));
}

// Every failure: a message, exit status 1, and no download file (nor a temporary one) left.
class Refused : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::WriteBytes(dir_.File("x.bin"), sample::CodeLikeBytes(0x4000, 6));
    WriteText(dir_.File("m.cfg"), kManufacturerCfg);
    WriteText(dir_.File("h.cfg"), SmallCfg({0x2000, 0x2000}));
  }

  // Runs with the given files and expects the failure message at the end of the output.
  void ExpectRefused(const std::vector<std::string>& names, const std::string& message) {
    std::vector<std::string> before = FileNames(dir_);
    std::vector<std::string> arguments;
    for (const std::string& name : names)
      arguments.push_back(dir_.File(name));
    Outcome run = RunInProcess(arguments);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(run.out.ends_with(message)) << run.out;
    if (!std::filesystem::is_directory(dir_.File("x.dld"))) std::erase(before, "x.dld");
    EXPECT_EQ(FileNames(dir_), before);
  }

  TempDir dir_;
};

TEST_F(Refused, InputsThatCannotBeOpenedAndAnOutputThatCannotBeCreated) {
  ExpectRefused({"absent.cfg", "h.cfg", "x.bin"}, "Can not open the input file!\n");
  ExpectRefused({"m.cfg", "absent.cfg", "x.bin"}, "Can not open the input file!\n");
  ExpectRefused({"m.cfg", "h.cfg", "absent.bin"}, "Can not open the input file!\n");
  std::filesystem::create_directory(dir_.File("x.dld"));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"}, "Can not open the input file!\n");
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("x.dld")));
  std::filesystem::remove(dir_.File("x.dld"));

  // An image whose download name is its own name is not overwritten.
  testing::WriteBytes(dir_.File("y.dld"), testing::ReadBytes(dir_.File("x.bin")));
  ExpectRefused({"m.cfg", "h.cfg", "y.dld"}, "Can not open the input file!\n");
  EXPECT_TRUE(testing::ReadBytes(dir_.File("y.dld")) == testing::ReadBytes(dir_.File("x.bin")));
  ExpectRefused({"m.cfg", "h.cfg", "ab"}, "Can not open the input file!\n");
}

TEST_F(Refused, AnImageShorterThanItsSectors) {
  WriteText(dir_.File("h.cfg"), SmallCfg({0x2000, 0x2001}));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"},
                "The input file ends inside sector 1: it needs 8193 bytes from offset 8192!\n");

  // An earlier download of the same name does not survive a failed run.
  testing::WriteBytes(dir_.File("x.dld"), std::vector<uint8_t>(100, 1));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"}, "offset 8192!\n");
  EXPECT_FALSE(FileExists(dir_.File("x.dld")));
}

TEST_F(Refused, ConfigurationsBeyondTheConvertersLimits) {
  WriteText(dir_.File("h.cfg"), SmallCfg(std::vector<uint32_t>(257, 0x10)));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"}, "The cfg file lists more than 256 sectors!\n");

  // 256 raw sectors of 64 KiB make a file longer than TRANS_TOTAL_SIZE's three bytes hold.
  File::Open(dir_.File("big.bin"), File::Mode::kCreate).Resize(256 * 0x10000);
  WriteText(dir_.File("h.cfg"), Replace(SmallCfg(std::vector<uint32_t>(256, 0x10000)),
                                        "COMPRESS_FLAG = 1", "COMPRESS_FLAG = 0"));
  ExpectRefused({"m.cfg", "h.cfg", "big.bin"},
                "The download file is longer than TRANS_TOTAL_SIZE can hold!\n");
  EXPECT_FALSE(FileExists(dir_.File("big.dld")));
  RemoveFile(dir_.File("big.bin"));

  WriteText(dir_.File("h.cfg"), SmallCfg({0x14001}));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"},
                "The size of sector 0 is 81921 bytes, more than 81920!\n");

  WriteText(dir_.File("h.cfg"), SmallCfg({0x2000}) + std::string(51200, ' '));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"}, "The cfg file is larger than 51200 bytes!\n");
  WriteText(dir_.File("m.cfg"), kManufacturerCfg + std::string(51200, '\n'));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"}, "The cfg file is larger than 51200 bytes!\n");
}

TEST_F(Refused, HeadersThatAreNotTheSeventyTwoByteForm) {
  WriteText(dir_.File("h.cfg"), SmallCfg({0x2000}, "0"));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"},
                "\nThe Size of download Header is 64\nThe Number of Partition  is 1\n"
                "The Size of Partition head is 20\nThe Size of download Header must be 72!\n");

  WriteText(dir_.File("m.cfg"), Replace(kManufacturerCfg, "= QV\t", "= QUORVANE-LABS-STI\t"));
  WriteText(dir_.File("h.cfg"), SmallCfg({0x2000}));
  ExpectRefused(
      {"m.cfg", "h.cfg", "x.bin"},
      "A value in the cfg file is longer than its field: the fields after it are lost!\n");

  WriteText(dir_.File("m.cfg"), kManufacturerCfg);
  WriteText(dir_.File("h.cfg"), Replace(SmallCfg({0x2000}), "BLK_SIZE = 0X002000 3\r\n", ""));
  ExpectRefused({"m.cfg", "h.cfg", "x.bin"},
                "The cfg file does not give sector 0 its memory type, start and size!\n");
}

// Many sectors of varied sizes and content, more than the ring of slots holds many times
// over: in memory as in the file, every sector's records in order, each data record
// decompressing to its own stretch of the image, and the same trace.
TEST(SectorsSideBySide, ManySectorsKeepTheirOrderInMemoryAsInTheFile) {
  std::vector<uint32_t> sizes;
  std::vector<uint8_t> image;
  for (int n = 0; n < 200; ++n) {
    sizes.push_back(static_cast<uint32_t>(1 + (n * 7919) % 0x3000));
    std::vector<uint8_t> part = n % 3 == 0   ? std::vector<uint8_t>(sizes.back(), 0xFF)
                                : n % 3 == 1 ? sample::RandomBytes(sizes.back(), n)
                                             : sample::CodeLikeBytes(sizes.back(), n);
    image.insert(image.end(), part.begin(), part.end());
  }
  TempDir dir;
  testing::WriteBytes(dir.File("x.bin"), image);
  WriteText(dir.File("m.cfg"), kManufacturerCfg);
  const std::string header_cfg = SmallCfg(sizes);
  WriteText(dir.File("h.cfg"), header_cfg);
  Outcome run = RunInProcess({dir.File("m.cfg"), dir.File("h.cfg"), dir.File("x.bin")});
  ASSERT_EQ(run.status, 0) << run.out;
  const std::vector<uint8_t> from_file = testing::ReadBytes(dir.File("x.dld"));

  std::ostringstream trace;
  std::optional<DownloadBytes> in_memory = MakeDownload(kManufacturerCfg, header_cfg, image, trace);
  ASSERT_TRUE(in_memory) << trace.str();
  EXPECT_TRUE(std::ranges::equal(in_memory->bytes(), from_file));
  EXPECT_EQ(trace.str(), run.out);

  std::vector<testing::RecordPlace> places = testing::LocateRecords(from_file);
  ASSERT_EQ(places.size(), 1 + 2 * sizes.size());
  std::vector<uint8_t> back(0x3000);
  size_t at = 0;
  for (size_t n = 0; n < sizes.size(); ++n) {
    const testing::RecordPlace& data = places[2 + 2 * n];
    lzo_uint produced = back.size();
    ASSERT_EQ(lzo1x_decompress_safe(&from_file[data.payload_offset()], data.length - 4, back.data(),
                                    &produced, nullptr),
              LZO_E_OK);
    ASSERT_EQ(produced, sizes[n]) << "sector " << n;
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + sizes[n], image.begin() + at))
        << "sector " << n;
    at += sizes[n];
  }
}

// A sink that fails part-way: the failure comes back to the caller once every worker has
// stopped, and nothing reaches the sink after it.
TEST(SectorsSideBySide, ASinkFailureStopsTheConversion) {
  class FailingSink final : public DownloadSink {
   public:
    void Append(std::span<const uint8_t>) override {
      if (++appends == 3) throw IoError("No space left on device");
    }
    void PutHeader(std::span<const uint8_t>) override { ++headers; }
    int appends = 0;
    int headers = 0;
  };
  CfgParser parser;
  std::ostringstream warnings;
  ParseCfgText(parser, kManufacturerCfg, warnings);
  BeginCfgFile(parser, CfgFile::kHeader);
  ParseCfgText(parser, SmallCfg(std::vector<uint32_t>(64, 0x800)), warnings);
  const std::vector<uint8_t> image = sample::CodeLikeBytes(64 * 0x800, 6);
  FailingSink sink;
  EnsureLzoReady();
  EXPECT_THROW(ConvertSectors(parser, MemoryImage(image), sink), IoError);
  EXPECT_EQ(sink.appends, 3);
  EXPECT_EQ(sink.headers, 0);
}

// An image that ends inside a sector in the middle of many: the sectors before it are
// converted and in the sink, none after it.
TEST(SectorsSideBySide, TheFirstFaultySectorEndsTheRecords) {
  CfgParser parser;
  std::ostringstream warnings;
  ParseCfgText(parser, kManufacturerCfg, warnings);
  BeginCfgFile(parser, CfgFile::kHeader);
  ParseCfgText(parser, SmallCfg(std::vector<uint32_t>(40, 0x1000)), warnings);
  const std::vector<uint8_t> image = sample::CodeLikeBytes(25 * 0x1000 + 0x800, 9);
  DownloadBytes download(0, LargestRecordsSize(SectorCount(parser)));
  EnsureLzoReady();
  const SectorsConverted converted = ConvertSectors(parser, MemoryImage(image), download);
  EXPECT_EQ(converted.converted, 25);
  EXPECT_EQ(converted.fault, SectorFault::kImageEnds);
  EXPECT_EQ(converted.fault_offset, 25 * 0x1000);
  EXPECT_EQ(converted.data_lengths.size(), 25u);
  EXPECT_EQ(download.bytes().size(), converted.bytes);
  EXPECT_EQ(testing::LocateRecords(download.bytes()).size(), 50u);
}

}  // namespace
}  // namespace qv::bintodld
