// End-to-end tests of the quorvane command: the real program, run in a temporary working
// directory, and the files it leaves.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <map>

#include "download/crc32.h"
#include "download/download_file.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "image/settings.h"
#include "platform/file.h"
#include "platform/ini_profile.h"
#include "platform/little_endian.h"
#include "tests/support/run_program.h"
#include "tests/support/still_referee.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"
#include "workfiles/fit_picture.h"

namespace qv {
namespace {

using testing::ProgramPath;
using testing::ProgramRun;

// The quorvane command with `arguments`, in `directory`.
ProgramRun RunQuorvane(std::vector<std::string> arguments, const std::string& directory) {
  arguments.insert(arguments.begin(), ProgramPath("quorvane"));
  return testing::RunProgram(arguments, directory);
}

std::vector<std::string> FilesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

class Quorvane : public ::testing::Test {
 protected:
  // A sample image made by the command itself, in the input directory.
  std::string Sample(const std::string& variant, const std::string& name) {
    ProgramRun run =
        RunQuorvane({"sample", inputs_.File(name), "--variant", variant}, inputs_.path());
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    return inputs_.File(name);
  }
  ProgramRun Build(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "build");
    arguments.push_back("--workdir");
    arguments.push_back(work_.path());
    return RunQuorvane(arguments, inputs_.path());
  }
  // The merged image a download file converts back to.
  std::vector<uint8_t> Converted(const std::string& download, Variant variant) {
    std::vector<uint8_t> image;
    Result<void> result = ConvertDownloadBytes(ReadWholeFile(download), variant, image);
    EXPECT_TRUE(result) << result.error().text;
    return image;
  }

  testing::TempDir inputs_;
  testing::TempDir work_;
};

class BuildEveryKind : public Quorvane,
                       public ::testing::WithParamInterface<std::tuple<const char*, const char*>> {
};

TEST_P(BuildEveryKind, WithoutChoicesTheOutputsAreTheImage) {
  auto [variant_name, extension] = GetParam();
  std::string input = Sample(variant_name, std::string("box") + extension);
  ProgramRun run = Build({input});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  Variant variant = std::string(variant_name) == "app"   ? kAppImage
                    : std::string(variant_name) == "all" ? kAllImage
                                                         : kFullImage;
  std::vector<uint8_t> original =
      std::string(extension) == ".bin" ? ReadWholeFile(input) : Converted(input, variant);
  if (std::string(extension) == ".bin") {
    EXPECT_EQ(run.errors,
              "Information: Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]\n");
    EXPECT_EQ(FilesIn(work_.path()), (std::vector<std::string>{"box_Merge.bin", "box_Merge.dld"}));
    EXPECT_TRUE(ReadWholeFile(work_.File("box_Merge.bin")) == original);
  } else {
    EXPECT_EQ(run.errors, "Information: Quorvanex: Succeed!  [ Create File: box_Merge.dld]\n");
    EXPECT_EQ(FilesIn(work_.path()), (std::vector<std::string>{"box_Merge.dld"}));
  }
  EXPECT_TRUE(Converted(work_.File("box_Merge.dld"), variant) == original);
}

INSTANTIATE_TEST_SUITE_P(VariantsAndKinds, BuildEveryKind,
                         ::testing::Combine(::testing::Values("app", "all", "full"),
                                            ::testing::Values(".bin", ".dld")),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) + 1);
                         });

TEST_F(Quorvane, EditedSettingsDatabaseAndKeyLandInTheImage) {
  std::string input = Sample("all", "box.dld");
  std::vector<uint8_t> database = sample::CodeLikeBytes(0x40000, 77);
  WriteWholeFile(inputs_.File("db.bin"), database);
  std::vector<uint8_t> key = sample::RandomBytes(0x10000, 78);
  WriteLe32(&key[80], 1);  // a key to be stored compressed
  std::fill(key.begin() + 200, key.end(), 0x00);
  WriteWholeFile(inputs_.File("key.bin"), key);
  ProgramRun run = Build({input, "--default-db", inputs_.File("db.bin"), "--key",
                          inputs_.File("key.bin"), "--model-id", "QV-2027", "--http-manual-addr",
                          "http://m.example/", "--auto-key", "k.dld"});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  std::vector<uint8_t> merged = Converted(work_.File("box_Merge.dld"), kAllImage);

  EXPECT_TRUE(std::equal(database.begin(), database.end(), merged.begin() + 0x6D0000));
  EXPECT_EQ(ReadLe32(&merged[0x6C0000 + 80]), 1u);  // the compressed key block
  EXPECT_EQ(merged[0x6C0000], 0xFF);

  Result<FlashImage> reopened = FlashImage::Parse(merged, kAllImage);
  ASSERT_TRUE(reopened) << reopened.error().text;
  EXPECT_EQ(reopened->ModelId(), "QV-2027");
  std::optional<std::span<const uint8_t>> httpcfg = reopened->HttpCfg();
  ASSERT_TRUE(httpcfg);
  HttpSettings settings = ReadHttpSettings(std::string(httpcfg->begin(), httpcfg->end()));
  EXPECT_EQ(settings[0], "http://m.example/");
  EXPECT_EQ(settings[6], "k.dld");
  EXPECT_EQ(settings[1], "http://update.example.com/auto/");
  // Region CRCs and the block CRC were made over the final bytes.
  const ManufacturerBlock& block = reopened->manufacturer();
  for (int i = 0; i < block.CheckedRegionCount(); ++i) {
    if (block.regions[i].check_flag == 1) {
      EXPECT_EQ(block.regions[i].crc,
                RegionCrcInImage(reopened->bytes(), *LayoutOf(kAllImage), block.regions[i]))
          << i;
    }
  }
  EXPECT_EQ(block.block_crc, Crc32(&merged[0x65F000], 4092));
}

TEST_F(Quorvane, EveryKindOfChoiceFromPicturesAndDownloadFiles) {
  std::string input = Sample("full", "box.bin");
  SaveBitmap(testing::MakePicture(testing::PictureKind::kPhoto, 720, 576),
             inputs_.File("boot.bmp"));
  testing::WriteJpeg(testing::MakePicture(testing::PictureKind::kFlatLogo, 640, 528),
                     inputs_.File("menu logo.jpg"));
  SaveBitmap(testing::MakePicture(testing::PictureKind::kGradient, 720, 480),
             inputs_.File("Radio.BMP"));
  std::vector<uint8_t> database = sample::CodeLikeBytes(0x40000, 31);
  sample::DownloadSpec database_spec;
  database_spec.variant = kDefaultDownload;
  WriteWholeFile(inputs_.File("db.dld"), sample::BuildDownload(database, database_spec));
  std::vector<uint8_t> key = sample::RandomBytes(0x10000, 32);  // word 80 is not 1: copied as it is
  WriteLe32(&key[80], 0x12345678);
  sample::DownloadSpec key_spec;
  key_spec.variant = kKeyDownload;
  WriteWholeFile(inputs_.File("key.dld"), sample::BuildDownload(key, key_spec));

  ProgramRun run =
      Build({input, "--boot", inputs_.File("boot.bmp"), "--menu", inputs_.File("menu logo.jpg"),
             "--radio", inputs_.File("Radio.BMP"), "--default-db", inputs_.File("db.dld"), "--key",
             inputs_.File("key.dld")});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.errors,
            "Information: Quorvane: The size of the picture: 640*528...\n\nStandard picture size: "
            "[24 Bit], "
            "[720*576] or [720*480].\n\nWill from top left corner intercept 720*576 sizes.\n"
            "Information: Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]\n");
  EXPECT_EQ(FilesIn(work_.path()), (std::vector<std::string>{"box_Merge.bin", "box_Merge.dld"}));
  std::vector<uint8_t> merged = ReadWholeFile(work_.File("box_Merge.bin"));
  EXPECT_TRUE(Converted(work_.File("box_Merge.dld"), kFullImage) == merged);
  EXPECT_TRUE(std::equal(database.begin(), database.end(), merged.begin() + 0x720000));
  EXPECT_TRUE(std::equal(key.begin(), key.end(), merged.begin() + 0x710000));

  Result<FlashImage> reopened = FlashImage::Parse(merged, kFullImage);
  ASSERT_TRUE(reopened) << reopened.error().text;
  for (const char* name : {"boot", "menu", "radio"}) {
    int index = 3 + (name[0] == 'm') + 2 * (name[0] == 'r');
    const DirectoryEntry& entry = reopened->directory().entries[index];
    ASSERT_EQ(entry.Name(), name);
    std::span<const uint8_t> still = reopened->Partition(index);
    ASSERT_EQ(still.size(), entry.Length()) << name;
    EXPECT_EQ(ReadLe32(still.data()), 0xB3010000u) << name;
    EXPECT_EQ(ReadLe32(still.data() + still.size() - 4), 0xB7010000u) << name;
    std::string path = inputs_.File(std::string(name) + ".m2v");
    WriteWholeFile(path, still);
    int height = name[0] == 'b' ? 576 : 480;
    testing::TempDir ffmpeg_scratch, mpeg2dec_scratch;
    Result<testing::DecodedStill> by_ffmpeg =
        testing::DecodeWithFfmpeg(path, 720, height, ffmpeg_scratch.path());
    Result<testing::DecodedStill> by_mpeg2dec =
        testing::DecodeWithMpeg2dec(path, 720, height, mpeg2dec_scratch.path());
    EXPECT_TRUE(by_ffmpeg) << name << ": " << by_ffmpeg.error().text;
    EXPECT_TRUE(by_mpeg2dec) << name << ": " << by_mpeg2dec.error().text;
  }
}

// Writes `picture` as an 8-bit RGB PNG (`grey`: as 16-bit grey, Adam7-interlaced, of its studio
// luma's full-range grey) and gives back the 24-bit picture the PNG stands for.
Bitmap WritePicturePng(const Bitmap& picture, const std::string& path, bool grey = false) {
  Bitmap expected = picture;
  auto channel = [&picture](int32_t x, int32_t y, int shift) {
    return static_cast<uint16_t>((PixelColour(picture, x, y) >> shift) & 0xFF);
  };
  auto grey_of = [&](int32_t x, int32_t y) {
    return static_cast<uint16_t>(
        (299 * channel(x, y, 16) + 587 * channel(x, y, 8) + 114 * channel(x, y, 0) + 500) / 1000);
  };
  if (grey) {
    for (int32_t y = 0; y < picture.height; ++y) {
      for (int32_t x = 0; x < picture.width; ++x)
        std::fill_n(expected.Row(y) + 3 * x, 3, static_cast<uint8_t>(grey_of(x, y)));
    }
  }
  testing::WritePng(path, picture.width, picture.height,
                    {grey ? 0 : 2, grey ? 16 : 8, grey, {}, {}},
                    [&](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
                      if (grey) return {static_cast<uint16_t>(grey_of(x, y) * 257)};
                      return {channel(x, y, 16), channel(x, y, 8), channel(x, y, 0)};
                    });
  return expected;
}

// PNG pictures, fitted or taken at their size, make stills that ffmpeg and mpeg2dec both decode
// to the picture expected, within the encoder's error.
TEST_F(Quorvane, PngAndFittedPicturesMakeStillsBothDecodersRead) {
  std::string input = Sample("full", "box.bin");
  const Bitmap boot =
      WritePicturePng(testing::MakePicture(testing::PictureKind::kPortrait, 720, 576),
                      inputs_.File("boot.png"), true);
  const Bitmap large =
      WritePicturePng(testing::MakePicture(testing::PictureKind::kPortrait, 1440, 1152, 5),
                      inputs_.File("menu.png"));
  const Bitmap wide =
      WritePicturePng(testing::MakePicture(testing::PictureKind::kFlatLogo, 720, 288, 6),
                      inputs_.File("radio.png"));
  ProgramRun run = Build({input, "--fit", "--boot", inputs_.File("boot.png"), "--menu",
                          inputs_.File("menu.png"), "--radio", inputs_.File("radio.png")});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(
      run.errors,
      "Information: Quorvane: The picture of 1440*1152 was scaled to fit 720*576, keeping its "
      "aspect ratio, centred on black.\n"
      "Information: Quorvane: The picture of 720*288 was scaled to fit 720*576, keeping its "
      "aspect ratio, centred on black.\n"
      "Information: Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]\n");

  // The stills against the pictures: the boot one as it is, the others fitted.
  auto check_stills = [&](const std::map<std::string, Bitmap>& expected) {
    Result<FlashImage> merged =
        FlashImage::Parse(ReadWholeFile(work_.File("box_Merge.bin")), kFullImage);
    ASSERT_TRUE(merged) << merged.error().text;
    for (const auto& [name, picture] : expected) {
      SCOPED_TRACE(name);
      int index = 3 + (name[0] == 'm') + 2 * (name[0] == 'r');
      ASSERT_EQ(merged->directory().entries[index].Name(), name);
      const std::string still = inputs_.File(name + ".m2v");
      WriteWholeFile(still, merged->Partition(index));
      testing::TempDir ffmpeg_scratch, mpeg2dec_scratch;
      Result<testing::DecodedStill> by_ffmpeg =
          testing::DecodeWithFfmpeg(still, 720, picture.height, ffmpeg_scratch.path());
      Result<testing::DecodedStill> by_mpeg2dec =
          testing::DecodeWithMpeg2dec(still, 720, picture.height, mpeg2dec_scratch.path());
      ASSERT_TRUE(by_ffmpeg) << by_ffmpeg.error().text;
      ASSERT_TRUE(by_mpeg2dec) << by_mpeg2dec.error().text;
      const std::vector<uint8_t> luma = testing::StudioLuma(picture);
      EXPECT_GT(testing::LumaPsnr(by_ffmpeg->luma, luma), 30.0);
      EXPECT_GT(testing::LumaPsnr(by_mpeg2dec->luma, luma), 30.0);
    }
  };
  check_stills({{"boot", boot},
                {"menu", FitPicture(large, 720, 576)},
                {"radio", FitPicture(wide, 720, 576)}});

  // --ntsc: 720 x 576 fitted to 720 x 480.
  run = Build({input, "--fit", "--ntsc", "--force", "--boot", inputs_.File("boot.png")});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  check_stills({{"boot", FitPicture(boot, 720, 480)}});
  // --ntsc without --fit is a usage error; a damaged PNG is refused before Start.
  EXPECT_EQ(Build({input, "--ntsc", "--force", "--boot", inputs_.File("boot.png")}).exit_status, 2);
  std::vector<uint8_t> cut = ReadWholeFile(inputs_.File("radio.png"));
  cut.resize(cut.size() / 2);
  WriteWholeFile(inputs_.File("cut.png"), cut);
  run = Build({input, "--force", "--radio", inputs_.File("cut.png")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_TRUE(run.errors.starts_with(
      "Error: Quorvane: Open File Error: the picture cut.png is no PNG picture the tool can read "
      "(libpng: "))
      << run.errors;
}

TEST_F(Quorvane, AnAppImageGrowsWithADefaultDatabase) {
  std::string input = Sample("app", "box.bin");
  WriteWholeFile(inputs_.File("db.bin"), std::vector<uint8_t>(0x40000, 0x3C));
  ProgramRun run = Build({input, "--default-db", inputs_.File("db.bin")});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  std::vector<uint8_t> merged = ReadWholeFile(work_.File("box_Merge.bin"));
  ASSERT_EQ(merged.size(), 0x710000u);
  EXPECT_EQ(merged[0x6D0000], 0x3C);
  EXPECT_EQ(merged[0x660000], 0x00);  // the gap the tool never writes
  std::vector<uint8_t> converted = Converted(work_.File("box_Merge.dld"), kAppImage);
  EXPECT_TRUE(std::equal(converted.begin(), converted.end(), merged.begin()));
}

TEST_F(Quorvane, RefusedInputsStopBeforeStart) {
  std::string input = Sample("full", "box.bin");
  WriteWholeFile(inputs_.File("short.bin"), std::vector<uint8_t>(100, 1));
  ProgramRun run = Build({input, "--key", inputs_.File("short.bin")});
  EXPECT_EQ(run.exit_status, 1);
  // Each fixed text followed by the file it is about.
  EXPECT_EQ(run.errors, "Error: Quorvane: Open File Error: file overtop! (" +
                            inputs_.File("short.bin") + ")\n");
  EXPECT_FALSE(FileExists(work_.File("box_Merge.bin")));

  run = Build({inputs_.File("short.bin")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.errors,
            "Error: Quorvane: Open file type error! (" + inputs_.File("short.bin") + ")\n");

  run = Build({inputs_.File("absent.bin")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.errors, "Quorvan[1.0.00]: File not found (" + inputs_.File("absent.bin") + ")\n");

  run = Build({input, "--model-id", std::string(21, 'x')});
  EXPECT_EQ(run.exit_status, 2);
}

TEST_F(Quorvane, InfoShowsTheImageReadOnly) {
  std::string input = Sample("full", "box.dld");
  std::vector<uint8_t> before = ReadWholeFile(input);
  ProgramRun run = RunQuorvane({"info", input, "--json"}, work_.path());
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  nlohmann::json info = nlohmann::json::parse(run.output);
  EXPECT_EQ(info["kind"], "download");
  EXPECT_EQ(info["variant"], 7);
  EXPECT_EQ(info["partition_count"], 142);
  EXPECT_EQ(info["directory"]["entry_count"], 9);
  EXPECT_EQ(info["directory"]["entries"][3]["name"], "boot");
  EXPECT_EQ(info["manufacturer"]["stb_id"], "0x0000000000020003");
  EXPECT_EQ(info["manufacturer"]["block_crc_ok"], true);
  EXPECT_EQ(info["manufacturer"]["regions"][0]["crc_ok"], true);
  EXPECT_EQ(info["manufacturer"]["regions"][4]["crc_ok"], false);  // a carried CRC
  EXPECT_EQ(info["model_id"], "QV7100-S");
  EXPECT_EQ(info["http"]["AutoDefault"], "default_710X.dld");
  EXPECT_TRUE(FilesIn(work_.path()).empty());
  EXPECT_TRUE(ReadWholeFile(input) == before);

  WriteWholeFile(inputs_.File("x.bin"), std::vector<uint8_t>(10, 0));
  run = RunQuorvane({"info", inputs_.File("x.bin")}, work_.path());
  EXPECT_EQ(run.exit_status, 1);
}

// Each partition's CRC-32 over its bytes, each logo's picture size from its decoded still, and
// the file's name and size.
TEST_F(Quorvane, InfoShowsPartitionCrcsLogoSizesAndTheFile) {
  const std::string input = Sample("all", "box.dld");
  ProgramRun run = RunQuorvane({"info", input, "--json"}, work_.path());
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  nlohmann::json info = nlohmann::json::parse(run.output);
  EXPECT_EQ(info["file_name"], input);
  EXPECT_EQ(info["file_size"], ReadWholeFile(input).size());
  Result<FlashImage> image = FlashImage::Parse(Converted(input, kAllImage), kAllImage);
  ASSERT_TRUE(image);
  const nlohmann::json& entries = info["directory"]["entries"];
  ASSERT_EQ(entries.size(), 9u);
  for (int i = 0; i < 9; ++i) {
    std::span<const uint8_t> data = image->Partition(i);
    EXPECT_EQ(entries[i]["crc"], Crc32Update(kCrc32Initial, data)) << i;
  }
  const nlohmann::json expected_logos = nlohmann::json::parse(R"([
      {"partition": "boot", "index": 3, "still": true, "width": 720, "height": 576},
      {"partition": "menu", "index": 4, "still": true, "width": 720, "height": 576},
      {"partition": "radio", "index": 5, "still": true, "width": 720, "height": 576}])");
  EXPECT_EQ(info["logos"], expected_logos);

  // Partitions that are no stills, one that lies outside the image, and no "radio" partition.
  sample::ImageSpec spec = sample::DefaultImageSpec(kAppImage);
  spec.partitions[5].name = "radio2";
  std::vector<uint8_t> odd = sample::BuildFlashImage(spec);
  WriteLe32(&odd[LayoutOf(kAppImage)->directory_offset + 8 * kEntrySize], 0xFFFFFF00u);
  WriteWholeFile(inputs_.File("odd.bin"), odd);
  run = RunQuorvane({"info", inputs_.File("odd.bin"), "--json"}, work_.path());
  EXPECT_EQ(run.exit_status, 1);  // the directory is unsafe: its logos are not looked into
  info = nlohmann::json::parse(run.output);
  EXPECT_TRUE(info["directory"]["entries"][8]["crc"].is_null());
  EXPECT_TRUE(info["directory"]["entries"][7]["crc"].is_number());
  EXPECT_EQ(info["logos"], nlohmann::json::array());
  odd = sample::BuildFlashImage(spec);
  WriteWholeFile(inputs_.File("odd.bin"), odd);
  run = RunQuorvane({"info", inputs_.File("odd.bin")}, work_.path());
  EXPECT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_NE(run.output.find("logo boot:          not a still\n"
                            "logo menu:          not a still\n"
                            "logo radio:         no partition\n"),
            std::string::npos)
      << run.output;
}

}  // namespace
}  // namespace qv
