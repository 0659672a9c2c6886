// `quorvane verify`: sound on everything a build writes, damaged on every kind of damage the
// hostile-input suite makes (each found by the check that names it), on every cut of a download
// file, and never damaged for what is only worth a note.
#include <gtest/gtest.h>

#include <lzo/lzo1x.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "app/verify.h"
#include "download/crc32.h"
#include "download/download_file.h"
#include "download/key_block.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "image/partition_directory.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"

namespace qv::testing {
namespace {

ProgramRun RunQuorvane(std::vector<std::string> arguments, const std::string& directory) {
  arguments.insert(arguments.begin(), ProgramPath("quorvane"));
  return RunProgram(arguments, directory);
}

// The directory every test of this program shares for its inputs.
const TempDir& Shared() {
  static TempDir directory;
  return directory;
}

// The three logo stills of the image `quorvane sample` writes, made by the tool's own still
// converter, by partition name.
const std::map<std::string, std::vector<uint8_t>>& SampleStills() {
  static const std::map<std::string, std::vector<uint8_t>> stills = [] {
    const std::string path = Shared().File("stills.bin");
    ProgramRun run = RunQuorvane({"sample", path, "--variant", "all"}, Shared().path());
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    Result<FlashImage> image = FlashImage::Parse(ReadWholeFile(path), kAllImage);
    EXPECT_TRUE(image);
    std::map<std::string, std::vector<uint8_t>> found;
    for (int i = 0; image && i < image->directory().UsableCount(); ++i) {
      std::span<const uint8_t> data = image->Partition(i);
      found[image->directory().entries[i].Name()].assign(data.begin(), data.end());
    }
    return found;
  }();
  return stills;
}

// The sample image of the variant with real logo stills: what verify finds sound, before a test
// damages one thing of it.
sample::ImageSpec SoundSpec(Variant variant) {
  sample::ImageSpec spec = sample::DefaultImageSpec(variant);
  for (sample::PartitionSpec& partition : spec.partitions) {
    auto still = SampleStills().find(partition.name);
    if (still != SampleStills().end() &&
        (partition.name == "boot" || partition.name == "menu" || partition.name == "radio"))
      partition.data = still->second;
  }
  return spec;
}

const std::vector<uint8_t>& SoundImage(Variant variant) {
  static std::map<Variant, std::vector<uint8_t>> images;
  std::vector<uint8_t>& image = images[variant];
  if (image.empty()) image = sample::BuildFlashImage(SoundSpec(variant));
  return image;
}

std::vector<uint8_t> AsDownload(Variant variant, std::span<const uint8_t> image) {
  return sample::BuildDownload(image, sample::DownloadSpecFor(SoundSpec(variant)));
}

const std::vector<uint8_t>& SoundDownload(Variant variant) {
  static std::map<Variant, std::vector<uint8_t>> downloads;
  std::vector<uint8_t>& download = downloads[variant];
  if (download.empty()) download = AsDownload(variant, SoundImage(variant));
  return download;
}

// The checks verify reports, through its JSON form.
struct Verified {
  int exit_status = -1;
  std::string output;
  nlohmann::json document;

  // The names of the checks with this verdict.
  std::vector<std::string> Named(const std::string& verdict) const {
    std::vector<std::string> names;
    if (!document.contains("checks")) return names;
    for (const nlohmann::json& check : document["checks"]) {
      if (check["verdict"] == verdict) names.push_back(check["name"]);
    }
    return names;
  }
  // A failure message that shows what was found.
  std::string Damage() const {
    std::string text;
    for (const nlohmann::json& check : document.value("checks", nlohmann::json::array())) {
      if (check["verdict"] != "ok")
        text += check["verdict"].get<std::string>() + " " + check["name"].get<std::string>() +
                ": " + check["detail"].get<std::string>() + "\n";
    }
    return text.empty() ? output : text;
  }
};

Verified Verify(const std::string& path) {
  ProgramRun run = RunQuorvane({"verify", path, "--json"}, Shared().path());
  Verified verified{run.exit_status, run.output + run.errors, {}};
  verified.document = nlohmann::json::parse(run.output, nullptr, false);
  EXPECT_FALSE(verified.document.is_discarded()) << run.output << run.errors;
  return verified;
}

// Exit status 1, with `check` (a check name, or its beginning) among the damaged checks.
::testing::AssertionResult FindsDamage(const Verified& verified, const std::string& check) {
  if (verified.exit_status != 1)
    return ::testing::AssertionFailure() << "exit status " << verified.exit_status << "\n"
                                         << verified.Damage();
  for (const std::string& name : verified.Named("damaged")) {
    if (name.starts_with(check)) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "no damaged check \"" << check << "\":\n"
                                       << verified.Damage();
}

::testing::AssertionResult Sound(const Verified& verified) {
  if (verified.exit_status == 0 && verified.Named("damaged").empty() &&
      verified.document.value("sound", false))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "exit status " << verified.exit_status << "\n"
                                       << verified.Damage();
}

std::vector<uint8_t> Compress(const std::vector<uint8_t>& data) {
  EnsureLzoReady();
  std::vector<uint8_t> stream(data.size() + data.size() / 16 + 67);
  std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS);
  lzo_uint length = 0;
  EXPECT_EQ(lzo1x_1_compress(data.data(), data.size(), stream.data(), &length, work.data()),
            LZO_E_OK);
  stream.resize(length);
  return stream;
}

std::string Write(const std::string& name, std::span<const uint8_t> bytes) {
  const std::string path = Shared().File(name);
  WriteWholeFile(path, bytes);
  return path;
}

// ---------------------------------------------------------------------------------------------
// Every output of a build is sound.

class VerifyBuildOutputs : public ::testing::TestWithParam<std::tuple<Variant, const char*>> {};

TEST_P(VerifyBuildOutputs, AreSoundWithLogosKeyDatabaseAndSettings) {
  const auto [variant, extension] = GetParam();
  TempDir inputs;
  TempDir outputs;
  const bool download = std::string(extension) == ".dld";
  const std::string image = inputs.File(std::string("box") + extension);
  ASSERT_EQ(
      RunQuorvane({"sample", image, "--variant", VariantLabel(variant)}, inputs.path()).exit_status,
      0);
  EXPECT_TRUE(Sound(Verify(image)));

  WriteJpeg(MakePicture(PictureKind::kPhoto, 720, 576, 41), inputs.File("boot.jpg"));
  SaveBitmap(MakePicture(PictureKind::kFlatLogo, 720, 480, 42), inputs.File("menu.bmp"));
  SaveBitmap(MakePicture(PictureKind::kGradient, 800, 600, 43), inputs.File("radio.bmp"));
  // A key stored compressed (its word at offset 80 is 1) with a flash image, a key stored as it
  // is with a download file; the database as a file and as a download of four sectors.
  std::vector<uint8_t> key = sample::CodeLikeBytes(0x10000, 44);
  WriteLe32(&key[80], download ? 0x12345678 : 1);
  WriteWholeFile(inputs.File("key.bin"), key);
  std::vector<uint8_t> database = sample::CodeLikeBytes(0x40000, 45);
  if (download) {
    sample::DownloadSpec spec;
    spec.variant = kDefaultDownload;
    database = sample::BuildDownload(database, spec);
  }
  const std::string database_file = inputs.File(download ? "db.dld" : "db.bin");
  WriteWholeFile(database_file, database);

  std::vector<std::string> arguments = {"build",
                                        image,
                                        "--output-dir",
                                        outputs.path(),
                                        "--boot",
                                        inputs.File("boot.jpg"),
                                        "--menu",
                                        inputs.File("menu.bmp"),
                                        "--radio",
                                        inputs.File("radio.bmp"),
                                        "--model-id",
                                        "QV7100-VRF",
                                        "--http-manual-addr",
                                        "http://manual.example/fw/",
                                        "--auto-key",
                                        "key_7100.dld"};
  // An app image opened from a download file has no merged image to take them.
  if (!(variant == kAppImage && download)) {
    arguments.insert(arguments.end(),
                     {"--key", inputs.File("key.bin"), "--default-db", database_file});
  }
  ProgramRun build = RunQuorvane(arguments, inputs.path());
  ASSERT_EQ(build.exit_status, 0) << build.errors;

  std::vector<std::string> made = {outputs.File("box_Merge.dld")};
  if (!download) made.push_back(outputs.File("box_Merge.bin"));
  for (const std::string& output : made) {
    SCOPED_TRACE(output);
    const Verified verified = Verify(output);
    EXPECT_TRUE(Sound(verified));
    // The stills the build made, and the compressed key block, were looked into.
    EXPECT_EQ(verified.Named("ok").size() + verified.Named("note").size(),
              verified.document["checks"].size());
    const std::vector<std::string> ok = verified.Named("ok");
    for (const char* check : {"logo boot", "logo menu", "logo radio", "httpcfg.ini", "model id"})
      EXPECT_NE(std::find(ok.begin(), ok.end(), check), ok.end()) << check;
    // The key block: compressed (flag 1) from a key file, stored as it is from a key of
    // another flag; in an app image, the merged image alone holds it, after the image.
    if (variant != kAppImage || !download) {
      const nlohmann::json& key_check = verified.document["checks"].back();
      EXPECT_EQ(key_check["name"], "key block");
      const std::string detail = key_check["detail"];
      if (variant == kAppImage && output.ends_with(".dld")) {
        EXPECT_EQ(key_check["verdict"], "note") << detail;
      } else {
        EXPECT_EQ(key_check["verdict"], "ok") << detail;
        EXPECT_NE(detail.find(download ? "flag 0x12345678" : "flag 1, its stream"),
                  std::string::npos)
            << detail;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(VariantsAndKinds, VerifyBuildOutputs,
                         ::testing::Combine(::testing::Values(kAppImage, kAllImage, kFullImage),
                                            ::testing::Values(".bin", ".dld")),
                         [](const auto& info) {
                           return VariantLabel(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) + 1);
                         });

// ---------------------------------------------------------------------------------------------
// The damage of the hostile-input suite, each case found by the check that names it.

constexpr size_t kOffsetField = 0, kSelectorField = 4, kFirstLengthField = 8,
                 kSecondLengthField = 12;
// The sample image's entries: appcode, fw_audio, fw_video (selector 1), boot, menu
// (selector 1), radio, httpcfg, modelid, dvb_cfg.
constexpr int kAppCode = 0, kVideoFirmware = 2, kBoot = 3, kHttpCfg = 6, kDvbCfg = 8;

std::vector<uint8_t> WithEntryField(Variant variant, int entry, size_t field, uint32_t value,
                                    std::vector<uint8_t> image = {}) {
  if (image.empty()) image = SoundImage(variant);
  WriteLe32(&image[LayoutOf(variant)->directory_offset + kEntrySize * entry + field], value);
  return image;
}

struct DamagedCase {
  std::string what;
  Variant variant;
  std::vector<uint8_t> image;  // a flash image; each case is verified as its download file too
  std::string check;           // the check that must find the damage
};

std::vector<DamagedCase> DamagedImages() {
  std::vector<DamagedCase> cases;
  auto add = [&](std::string what, Variant variant, std::vector<uint8_t> image, std::string check) {
    cases.push_back({std::move(what), variant, std::move(image), std::move(check)});
  };
  // The directory's lies.
  for (uint32_t count : {61u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> image = SoundImage(kAllImage);
    WriteLe32(&image[LayoutOf(kAllImage)->directory_offset + kMaxEntries * kEntrySize], count);
    add("entry count " + std::to_string(count), kAllImage, image, "partition directory");
  }
  add("appcode longer than its buffer", kAllImage,
      WithEntryField(kAllImage, kAppCode, kSecondLengthField, 0x660001), "partition 0 ");
  add("fw_video longer than its buffer", kAllImage,
      WithEntryField(kAllImage, kVideoFirmware, kFirstLengthField, 0x300001), "partition 2 ");
  add("boot longer than its slot", kAllImage,
      WithEntryField(kAllImage, kBoot, kSecondLengthField, 51201), "partition 3 ");
  add("boot of 0xFFFFFFFF bytes", kAllImage,
      WithEntryField(kAllImage, kBoot, kSecondLengthField, 0xFFFFFFFF), "partition 3 ");
  add("boot's selector picking a first length of 1 MiB", kAllImage,
      WithEntryField(kAllImage, kBoot, kFirstLengthField, 0x100000,
                     WithEntryField(kAllImage, kBoot, kSelectorField, 1)),
      "partition 3 ");
  for (Variant variant : {kAppImage, kFullImage}) {
    const uint32_t past_the_end = LayoutOf(variant)->file_size - LayoutOf(variant)->area_base;
    for (uint32_t offset : {past_the_end, past_the_end - 100, 0xFFFFFFF0u, 0xFFFFFF00u}) {
      add(VariantLabel(variant) + " dvb_cfg at offset " + std::to_string(offset), variant,
          WithEntryField(variant, kDvbCfg, kOffsetField, offset), "partition 8 ");
    }
  }
  add("offset and length beyond 32 bits", kAllImage,
      WithEntryField(kAllImage, kDvbCfg, kSecondLengthField, 0x200,
                     WithEntryField(kAllImage, kDvbCfg, kOffsetField, 0xFFFFFF00u)),
      "partition 8 ");
  {
    std::vector<uint8_t> image = SoundImage(kAllImage);
    const size_t directory = LayoutOf(kAllImage)->directory_offset;
    std::copy_n(&image[directory + kEntrySize * 1], kEntrySize,
                &image[directory + kEntrySize * kDvbCfg]);
    WriteLe32(&image[directory + kEntrySize * kDvbCfg], 0x500000);
    add("a second fw_audio", kAllImage, image, "partition directory");
  }
  for (Variant variant : {kAppImage, kAllImage, kFullImage}) {
    add(VariantLabel(variant) + " dvb_cfg into the directory", variant,
        WithEntryField(variant, kDvbCfg, kOffsetField, kPartitionSpace - 700 + 16), "partition 8 ");
    add(VariantLabel(variant) + " appcode past the partition space", variant,
        WithEntryField(variant, kAppCode, kSecondLengthField, 0x15F000,
                       WithEntryField(variant, kAppCode, kOffsetField, 0x500000)),
        "partition 0 ");
  }
  {
    sample::ImageSpec spec = SoundSpec(kAllImage);
    spec.manufacturer.regions.clear();
    sample::PartitionSpec model = spec.partitions[7];  // "modelid", inside "fw_audio"
    model.offset = 0x280010;
    spec.partitions.insert(spec.partitions.begin(), model);
    add("a first small partition over a large one", kAllImage, sample::BuildFlashImage(spec),
        "partition 0 ");
  }
  add("httpcfg longer than its slot", kAppImage,
      WithEntryField(kAppImage, kHttpCfg, kSecondLengthField, 51201), "partition 6 ");

  // Checksums that do not match.
  {
    const sample::ImageSpec spec = SoundSpec(kAllImage);
    const sample::RegionSpec& checked = spec.manufacturer.regions[0];
    std::vector<uint8_t> image = SoundImage(kAllImage);
    const size_t offset = checked.start - sample::WindowAddress(kAllImage, 0);
    for (size_t i = 0; i < 4; ++i)
      image[offset + 0x1234 + i] ^= 0x5A;
    add("a region's bytes", kAllImage, image, "region 0");
    image = SoundImage(kAllImage);
    image[LayoutOf(kAllImage)->manufacturer_offset + kBlockCrcOffset] ^= 0x01;
    add("the block CRC", kAllImage, image, "block CRC");
  }
  {
    sample::ImageSpec spec = SoundSpec(kAllImage);
    spec.manufacturer.region_count = 200;
    for (uint32_t i = uint32_t(spec.manufacturer.regions.size()); i < kRegionRecordsOnFlash; ++i) {
      spec.manufacturer.regions.push_back(
          {uint8_t(i), sample::WindowAddress(kAllImage, i * 0x10000 + 0x40), 0x123, 1, 0});
    }
    add("a region count of 200 with CRCs of zero", kAllImage, sample::BuildFlashImage(spec),
        "region 122");
  }
  {
    sample::ImageSpec spec = SoundSpec(kAllImage);
    spec.manufacturer.regions.push_back(
        {9, sample::WindowAddress(kAppImage, 0x660000), 0x1000, 1, 0xDEADBEEF});
    add("a region past an app image, inside an all image", kAllImage, sample::BuildFlashImage(spec),
        "region " + std::to_string(spec.manufacturer.regions.size() - 1));
  }

  // What the partitions hold: stills, the model id, the key block, each sealed with sound CRCs.
  auto sealed = [](Variant variant, std::function<void(std::vector<uint8_t>&)> damage) {
    std::vector<uint8_t> image = SoundImage(variant);
    damage(image);
    ManufacturerBlock block = DecodeManufacturerBlockAt(image, *LayoutOf(variant));
    SealManufacturerBlock(block, *LayoutOf(variant), image);
    return image;
  };
  add("a boot logo that is no still", kFullImage,
      sample::BuildFlashImage(sample::DefaultImageSpec(kFullImage)), "logo boot");
  {
    sample::ImageSpec spec = SoundSpec(kAllImage);
    spec.partitions[4].data.resize(spec.partitions[4].data.size() / 2);
    add("a menu still cut in half", kAllImage, sample::BuildFlashImage(spec), "logo menu");
    spec = SoundSpec(kAllImage);
    spec.partitions[7].data = {'Q', 'V', 0x01, 'X', 0};
    add("a model id with a control character", kAllImage, sample::BuildFlashImage(spec),
        "model id");
  }
  for (Variant variant : {kAllImage, kFullImage}) {
    add(VariantLabel(variant) + " key block whose stream is no LZO1X stream", variant,
        sealed(variant,
               [&](std::vector<uint8_t>& image) {
                 uint8_t* region = &image[LayoutOf(variant)->key_region];
                 WriteLe32(region + kKeyBlockFlagOffset, kKeyBlockFlag);
                 WriteLe32(region + kKeyStreamLengthOffset, 4000);
               }),
        "key block");
    add(VariantLabel(variant) + " key block whose stream runs past it", variant,
        sealed(variant,
               [&](std::vector<uint8_t>& image) {
                 uint8_t* region = &image[LayoutOf(variant)->key_region];
                 WriteLe32(region + kKeyBlockFlagOffset, kKeyBlockFlag);
                 WriteLe32(region + kKeyStreamLengthOffset, 0x10000);
               }),
        "key block");
  }
  return cases;
}

TEST(VerifyDamage, EveryDamagedImageOfTheHostileSuiteAsFlashImageAndDownloadFile) {
  for (const DamagedCase& damaged : DamagedImages()) {
    SCOPED_TRACE(damaged.what);
    EXPECT_TRUE(FindsDamage(Verify(Write("damaged.bin", damaged.image)), damaged.check));
    EXPECT_TRUE(FindsDamage(
        Verify(Write("damaged.dld", AsDownload(damaged.variant, damaged.image))), damaged.check));
  }
}

// The download file for the record at `index` with another length field.
std::vector<uint8_t> WithLengthField(const std::vector<uint8_t>& download, size_t index,
                                     uint32_t length_field) {
  std::vector<uint8_t> out = download;
  const RecordPlace record = LocateRecords(download).at(index);
  WriteLe(&out[record.offset + 1], length_field, record.length_width);
  return out;
}

// The download with record `index` carrying `payload` with its true CRC.
std::vector<uint8_t> WithRecord(const std::vector<uint8_t>& download, size_t index,
                                const std::vector<uint8_t>& payload) {
  const RecordPlace record = LocateRecords(download).at(index);
  std::vector<uint8_t> out(download.begin(), download.begin() + std::ptrdiff_t(record.offset));
  out.push_back(record.tag);
  for (int i = 0; i < record.length_width; ++i)
    out.push_back(uint8_t((payload.size() + 4) >> (8 * i)));
  out.insert(out.end(), payload.begin(), payload.end());
  uint8_t crc[4];
  WriteLe32(crc, Crc32Update(kCrc32Initial, payload));
  out.insert(out.end(), crc, crc + 4);
  out.insert(out.end(), download.begin() + std::ptrdiff_t(record.end()), download.end());
  return out;
}

TEST(VerifyDamage, EveryDamagedDownloadOfTheHostileSuite) {
  const std::vector<uint8_t>& full = SoundDownload(kFullImage);
  const size_t last = LocateRecords(full).size() - 1;
  std::vector<uint8_t> flipped = SoundDownload(kAllImage);
  {
    const std::vector<RecordPlace> records = LocateRecords(flipped);
    const RecordPlace& record = records[records.size() / 2];
    flipped[record.payload_offset() + record.length / 2] ^= 0x40;
  }
  const std::vector<std::tuple<std::string, std::vector<uint8_t>, std::string>> cases = {
      {"header length 0", WithLengthField(full, 0, 0), "download header record"},
      {"header length 3", WithLengthField(full, 0, 3), "download header record"},
      {"header length 0xFFFF", WithLengthField(full, 0, 0xFFFF), "download header record"},
      {"sector header length 0", WithLengthField(full, 1, 0), "sector 0 header record"},
      {"sector header length 0xFF", WithLengthField(full, 1, 0xFF), "sector 0 header record"},
      {"sector data length 3", WithLengthField(full, 2, 3), "sector 0 data record"},
      {"sector data length 0x1E005", WithLengthField(full, 2, kRecordLimit + 5), "record stream"},
      {"sector data length 0xFFFFFF", WithLengthField(full, 2, 0xFFFFFF), "record stream"},
      {"last sector data length 0xFFFFFF", WithLengthField(full, last, 0xFFFFFF), "record stream"},
      {"empty sector data", WithRecord(full, 2, {}), "sector 0 data record"},
      {"a flipped byte in the middle", flipped, "sector 64 "},
      {"sector data that decompresses past the limit",
       WithRecord(SoundDownload(kAllImage), 2,
                  Compress(std::vector<uint8_t>(kRecordLimit + 0x2000, 0x5A))),
       "sector 0 data record"},
  };
  for (const auto& [what, bytes, check] : cases) {
    SCOPED_TRACE(what);
    EXPECT_TRUE(FindsDamage(Verify(Write("box.dld", bytes)), check));
  }
  for (uint8_t count : {0, 1, 4, 101, 255}) {
    std::vector<uint8_t> bytes = SoundDownload(kAppImage);
    bytes[60] = count;
    EXPECT_TRUE(FindsDamage(Verify(Write("box.dld", bytes)), "file")) << int{count};
  }
}

TEST(VerifyDamage, WhatADownloadFileHoldsBesidesItsStream) {
  const std::vector<uint8_t>& sound = SoundDownload(kAppImage);
  const std::vector<RecordPlace> records = LocateRecords(sound);
  std::vector<uint8_t> surplus = sound;
  surplus.insert(surplus.end(), sound.begin() + std::ptrdiff_t(records[1].offset),
                 sound.begin() + std::ptrdiff_t(records[2].end()));
  EXPECT_TRUE(FindsDamage(Verify(Write("box.dld", surplus)), "sectors beyond the variant"));

  std::vector<uint8_t> trailing = sound;
  trailing.insert(trailing.end(), 16, 0x00);
  EXPECT_TRUE(FindsDamage(Verify(Write("box.dld", trailing)), "data after the stream"));

  // Sector 3 decompressing to 0x10010 bytes, 16 of them into sector 4, which the conversion
  // takes without a word (sector 4 is placed over them); the header's size made true.
  std::vector<uint8_t> download =
      WithRecord(sound, 2 + 2 * 3, Compress(std::vector<uint8_t>(0x10010, 0x5A)));
  WriteLe24(&download[kTotalSizeOffset], uint32_t(download.size()));
  WriteLe32(&download[kHeaderCrcOffset], Crc32(&download[3], kHeaderPayloadSize));
  EXPECT_TRUE(FindsDamage(Verify(Write("box.dld", download)), "sector sizes"));
}

// Cut at every record boundary and inside every record: always damaged, and the program's
// verdict agrees with the one computed here for every cut it is run on.
TEST(VerifyDamage, EveryTruncationOfADownloadFile) {
  const std::vector<uint8_t>& whole = SoundDownload(kAppImage);
  std::set<size_t> cuts;
  for (const RecordPlace& record : LocateRecords(whole)) {
    for (size_t at :
         {record.offset, record.offset + 1, record.payload_offset(),
          record.payload_offset() + (record.length - 4) / 2, record.crc_offset(), record.end() - 1})
      cuts.insert(at);
  }
  const std::string path = Shared().File("cut.dld");
  size_t runs = 0;
  for (size_t cut : cuts) {
    WriteWholeFile(path, std::span(whole).first(cut));
    EXPECT_TRUE(VerifyImageFile(path).Damaged()) << "cut at " << cut;
    // The program itself on a spread of them.
    if (cut < 100 || (runs++ % 97) == 0) {
      ProgramRun run = RunQuorvane({"verify", path}, Shared().path());
      EXPECT_EQ(run.exit_status, 1) << "cut at " << cut << "\n" << run.output << run.errors;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Notes are not damage.

TEST(VerifyNotes, RegionsOutsideTheImageMissingSettingsAndUncheckedRegions) {
  sample::ImageSpec spec = SoundSpec(kAppImage);
  spec.manufacturer.regions.push_back(
      {9, sample::WindowAddress(kAppImage, 0x660000), 0x1000, 1, 0xDEADBEEF});
  std::erase_if(spec.partitions,
                [](const sample::PartitionSpec& p) { return p.name == "modelid"; });
  const std::string httpcfg = "[Http Manual cfg]\r\nhttpManualAddr=http://m.example/\r\n";
  for (sample::PartitionSpec& partition : spec.partitions) {
    if (partition.name == "httpcfg") partition.data.assign(httpcfg.begin(), httpcfg.end());
  }
  for (const std::string name : {"notes.bin", "notes.dld"}) {
    SCOPED_TRACE(name);
    std::vector<uint8_t> image = sample::BuildFlashImage(spec);
    if (name.ends_with(".dld")) image = AsDownload(kAppImage, image);
    const Verified verified = Verify(Write(name, image));
    EXPECT_TRUE(Sound(verified));
    const std::vector<std::string> notes = verified.Named("note");
    // The carried region of flag 2, the region past the app image, the missing model id and
    // settings, and the key region an app image does not hold.
    EXPECT_EQ(notes,
              (std::vector<std::string>{
                  "region 4", "region " + std::to_string(spec.manufacturer.regions.size() - 1),
                  "httpcfg.ini", "model id", "key block"}))
        << verified.Damage();
    EXPECT_NE(verified.output.find("without httpAutoAddr in [Http Auto cfg], AutoApp in"),
              std::string::npos)
        << verified.output;
  }
}

// ---------------------------------------------------------------------------------------------
// The two forms of the report.

TEST(VerifyReportForms, TheJsonObjectAndTheTextLinesSayTheSame) {
  const std::string path = Write("box.dld", SoundDownload(kAllImage));
  const Verified verified = Verify(path);
  ASSERT_TRUE(Sound(verified));
  const nlohmann::json& document = verified.document;
  ASSERT_TRUE(document.is_object());
  EXPECT_EQ(document.size(), 4u);
  EXPECT_EQ(document["file"], path);
  EXPECT_TRUE(document["sound"].is_boolean());
  ASSERT_TRUE(document["checks"].is_array());
  std::map<std::string, int> counted;
  std::vector<std::string> names;
  for (const nlohmann::json& check : document["checks"]) {
    ASSERT_TRUE(check.is_object());
    EXPECT_EQ(check.size(), 3u);
    ASSERT_TRUE(check["name"].is_string() && check["verdict"].is_string() &&
                check["detail"].is_string())
        << check.dump();
    EXPECT_TRUE(check["verdict"] == "ok" || check["verdict"] == "damaged" ||
                check["verdict"] == "note");
    ++counted[check["verdict"]];
    names.push_back(check["name"]);
  }
  for (const char* verdict : {"ok", "damaged", "note"})
    EXPECT_EQ(document["counts"][verdict], counted[verdict]) << verdict;

  // The checks in their order: 1 + 2 x 130 records, then the stream, the image, its contents.
  const std::vector<RecordPlace> records = LocateRecords(SoundDownload(kAllImage));
  ASSERT_EQ(names.size(), 1 + records.size() + 5 + 1 + 9 + 7 + 1 + 3 + 3);
  EXPECT_EQ(names[0], "file");
  EXPECT_EQ(names[1], "download header record");
  EXPECT_EQ(names[2], "sector 0 header record");
  EXPECT_EQ(names[records.size()], "sector 129 data record");
  const std::vector<std::string> rest(names.begin() + std::ptrdiff_t(1 + records.size()),
                                      names.end());
  EXPECT_EQ(rest, (std::vector<std::string>{"record stream",
                                            "data after the stream",
                                            "sectors beyond the variant",
                                            "sector sizes",
                                            "total size",
                                            "partition directory",
                                            "partition 0 \"appcode\"",
                                            "partition 1 \"fw_audio\"",
                                            "partition 2 \"fw_video\"",
                                            "partition 3 \"boot\"",
                                            "partition 4 \"menu\"",
                                            "partition 5 \"radio\"",
                                            "partition 6 \"httpcfg\"",
                                            "partition 7 \"modelid\"",
                                            "partition 8 \"dvb_cfg\"",
                                            "region 0",
                                            "region 1",
                                            "region 2",
                                            "region 3",
                                            "region 4",
                                            "region 5",
                                            "region 6",
                                            "block CRC",
                                            "logo boot",
                                            "logo menu",
                                            "logo radio",
                                            "httpcfg.ini",
                                            "model id",
                                            "key block"}));

  // The text form: the same checks, one line each, verdict first, and the counts at the end.
  ProgramRun text = RunQuorvane({"verify", path}, Shared().path());
  EXPECT_EQ(text.exit_status, 0);
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.output.size();) {
    size_t end = text.output.find('\n', at);
    lines.push_back(text.output.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), names.size() + 2);
  for (size_t i = 0; i < names.size(); ++i) {
    const nlohmann::json& check = document["checks"][i];
    char verdict[16];
    std::snprintf(verdict, sizeof verdict, "%-8s ", check["verdict"].get<std::string>().c_str());
    EXPECT_EQ(lines[i], verdict + names[i] + ": " + check["detail"].get<std::string>());
  }
  EXPECT_EQ(lines.back(), "sound: " + std::to_string(names.size()) + " checks, " +
                              std::to_string(counted["ok"]) + " ok, 0 damaged, " +
                              std::to_string(counted["note"]) + " note");

  // A usage error.
  EXPECT_EQ(RunQuorvane({"verify"}, Shared().path()).exit_status, 2);
  EXPECT_EQ(RunQuorvane({"verify", path, "--no-such-option"}, Shared().path()).exit_status, 2);
}

}  // namespace
}  // namespace qv::testing
