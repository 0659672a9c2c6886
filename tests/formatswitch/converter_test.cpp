#include "formatswitch/converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "formatswitch/parameter_file.h"
#include "tests/formatswitch/still_checks.h"
#include "workfiles/logo_picture.h"
#include "workfiles/parameter_files.h"

namespace qv::formatswitch {
namespace {

using testing::PictureKind;
using testing::TempDir;

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// A working directory as the tool lays it out: the converter program and both parameter files.
class WorkingDirectory {
 public:
  WorkingDirectory() {
    std::filesystem::copy_file(QV_FORMATSWITCH_PROGRAM, dir_.File("formatswitch"));
    WriteWholeFile(dir_.File("PAL.par"), Bytes(kPalParContent));
    WriteWholeFile(dir_.File("NTSC.par"), Bytes(kNtscParContent));
  }
  const TempDir& dir() const { return dir_; }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Runs "formatswitch -c <name>" from another directory: names are relative to the program.
  testing::ProgramRun Convert(const std::string& name) const {
    return testing::RunProgram({File("formatswitch"), "-c", name}, elsewhere_.path());
  }

  std::vector<std::string> Files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  TempDir dir_;
  TempDir elsewhere_;
};

TEST(FormatSwitchProgram, ConvertsLogoPicturesFromJpegAndBitmapSources) {
  WorkingDirectory work;
  struct Case {
    PictureKind kind;
    int width, height;
    bool jpeg;
    LogoKind logo;
    int still_height;
  };
  const Case cases[] = {
      {PictureKind::kPhoto, 720, 576, false, LogoKind::kBoot, 576},
      {PictureKind::kPhoto, 1024, 768, true, LogoKind::kMenu, 576},      // cut
      {PictureKind::kFlatLogo, 640, 400, false, LogoKind::kRadio, 480},  // extended
      {PictureKind::kText, 720, 480, true, LogoKind::kBoot, 480},
      {PictureKind::kNoise, 720, 576, false, LogoKind::kMenu, 576},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(testing::PictureKindName(c.kind)) + " " + std::to_string(c.width) +
                 "x" + std::to_string(c.height) + (c.jpeg ? " jpeg" : " bmp"));
    Bitmap source = testing::MakePicture(c.kind, c.width, c.height, 11);
    std::string chosen = work.File(c.jpeg ? "chosen.jpg" : "chosen.bmp");
    if (c.jpeg)
      testing::WriteJpeg(source, chosen, 92);
    else
      SaveBitmap(source, chosen);
    LogoPictureResult prepared = PrepareLogoPicture(chosen, c.logo, work.dir().path());
    ASSERT_TRUE(prepared.accepted());
    std::filesystem::remove(chosen);

    // The command the tool runs for the kind, without "/c formatswitch.exe -c ".
    std::string command(NamesOf(c.logo).command);
    std::string name = command.substr(command.rfind(' ') + 1);
    testing::ProgramRun run = work.Convert(name);
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_EQ(run.errors, "");
    std::string still = work.File(std::string(NamesOf(c.logo).still));
    ASSERT_TRUE(FileExists(still));
    Bitmap logo = LoadBitmap(work.File(std::string(NamesOf(c.logo).picture)));
    double kr = c.still_height == 576 ? 0.299 : 0.30, kb = c.still_height == 576 ? 0.114 : 0.11;
    testing::StillQuality quality =
        testing::CheckStill(still, 720, c.still_height, testing::StudioLuma(logo, kr, kb));
    // JPEG sources, cuts and white margins make other pictures than the library tests see:
    // the floors hold with a decibel to spare.
    EXPECT_GT(quality.ffmpeg_psnr, testing::PsnrFloor(c.kind) - 1.0);
    EXPECT_GT(quality.mpeg2dec_psnr, testing::PsnrFloor(c.kind) - 1.0);
    std::filesystem::remove(still);
    std::filesystem::remove(work.File(std::string(NamesOf(c.logo).picture)));
  }
  // Nothing but the program and its parameter files is left behind.
  EXPECT_EQ(work.Files(), (std::vector<std::string>{"NTSC.par", "PAL.par", "formatswitch"}));
}

TEST(FormatSwitchProgram, NamesMeetWhateverTheirLetterCase) {
  WorkingDirectory work;
  SaveBitmap(testing::MakePicture(PictureKind::kGradient, 720, 576), work.File("radio.bmp"));
  std::filesystem::rename(work.File("PAL.par"), work.File("pal.PAR"));
  testing::ProgramRun run = work.Convert("Radio.bmp");
  EXPECT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_TRUE(FileExists(work.File("radio.m2v")));  // named after the picture it read
  EXPECT_FALSE(FileExists(work.File("Radio.m2v")));
  // The extension test ignores case too, and an exact name is preferred.
  SaveBitmap(testing::MakePicture(PictureKind::kGradient, 720, 480), work.File("Menu.BMP"));
  EXPECT_EQ(work.Convert("Menu.BMP").exit_status, 0);
  EXPECT_TRUE(FileExists(work.File("Menu.m2v")));
  // An absolute name is used as it stands.
  TempDir other;
  SaveBitmap(testing::MakePicture(PictureKind::kGradient, 720, 480), other.File("x.bmp"));
  EXPECT_EQ(work.Convert(other.File("x.bmp")).exit_status, 0);
  EXPECT_TRUE(FileExists(other.File("x.m2v")));
  EXPECT_EQ(work.Files(),
            (std::vector<std::string>{"Menu.BMP", "Menu.m2v", "NTSC.par", "formatswitch", "pal.PAR",
                                      "radio.bmp", "radio.m2v"}));
}

TEST(FormatSwitchProgram, ProducesNothingAndFailsForPicturesItCannotConvert) {
  WorkingDirectory work;
  SaveBitmap(testing::MakePicture(PictureKind::kGradient, 704, 576), work.File("boot.bmp"));
  testing::ProgramRun run = work.Convert("boot.bmp");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.errors, "Width: 704, Height: 576\nError: bitmap size error!\n");

  SaveBitmap(testing::IndexedBitmap(720, 576, std::vector<uint32_t>(256, 0), 0),
             work.File("menu.bmp"));
  run = work.Convert("menu.bmp");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("not 24"), std::string::npos) << run.errors;

  WriteWholeFile(work.File("cut.bmp"), std::vector<uint8_t>(100, 'B'));
  EXPECT_EQ(work.Convert("cut.bmp").exit_status, 1);
  EXPECT_EQ(work.Convert("missing.bmp").exit_status, 1);
  SaveBitmap(testing::MakePicture(PictureKind::kGradient, 720, 576), work.File("logo.jpg"));
  run = work.Convert("logo.jpg");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("not a bitmap"), std::string::npos);
  EXPECT_EQ(testing::RunProgram({work.File("formatswitch")}).exit_status, 2);
  EXPECT_EQ(testing::RunProgram({work.File("formatswitch"), "-x", "boot.bmp"}).exit_status, 2);

  // A parameter file asking for what the encoder cannot do is refused, not ignored.
  std::string par(kPalParContent);
  par.replace(par.find("0              /* ISO/IEC 11172-2"), 1, "1");
  WriteWholeFile(work.File("PAL.par"), Bytes(par));
  SaveBitmap(testing::MakePicture(PictureKind::kGradient, 720, 576), work.File("radio.bmp"));
  run = work.Convert("radio.bmp");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("MPEG-1"), std::string::npos) << run.errors;
  std::filesystem::remove(work.File("PAL.par"));
  run = work.Convert("radio.bmp");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("pal.par"), std::string::npos) << run.errors;

  for (const std::string& name : work.Files())
    EXPECT_EQ(name.find(".m2v"), std::string::npos) << name;
}

TEST(ParameterFile, ReportsTheLineThatIsWrongAndRefusesUnsupportedValues) {
  EncoderParameters p;
  std::string error;
  EXPECT_FALSE(ParseParameterFile("title\r\ntest0\r\n", p, error));
  EXPECT_NE(error.find("fewer than 55"), std::string::npos) << error;
  std::string text(kPalParContent);
  std::string broken = text;
  broken.replace(broken.find("720            /* horizontal_size"), 3, "7x0");
  EXPECT_FALSE(ParseParameterFile(broken, p, error));
  EXPECT_EQ(error, "line 15: expected a whole number, not \"7x0\"");
  broken = text;
  broken.replace(broken.find("00:00:00:00"), 11, "00:00:00   ");
  EXPECT_FALSE(ParseParameterFile(broken, p, error));
  EXPECT_NE(error.find("line 10"), std::string::npos);
  broken = text;
  broken.replace(broken.find("1 0 0          /* intra_vlc"), 5, "1    ");
  EXPECT_FALSE(ParseParameterFile(broken, p, error));
  EXPECT_NE(error.find("line 38"), std::string::npos);

  ASSERT_TRUE(ParseParameterFile(text, p, error));
  EncoderParameters q = p;
  q.chroma_format = 2;
  EXPECT_NE(CheckEncoderParameters(q).find("chroma_format"), std::string::npos);
  q = p;
  q.field_pictures = 1;
  EXPECT_NE(CheckEncoderParameters(q).find("field pictures"), std::string::npos);
  q = p;
  q.intra_dc_precision = 4;
  EXPECT_NE(CheckEncoderParameters(q).find("intra_dc_precision"), std::string::npos);
  q = p;
  q.progressive_frame = 1;  // needs frame DCT only
  EXPECT_NE(CheckEncoderParameters(q), "");

  TempDir dir;
  QuantiserMatrix matrix;
  EXPECT_FALSE(ReadQuantiserMatrix(dir.File("none"), matrix, error));
  WriteWholeFile(dir.File("short"), Bytes("8 16 16"));
  EXPECT_FALSE(ReadQuantiserMatrix(dir.File("short"), matrix, error));
  std::string values;
  for (int i = 0; i < 64; ++i)
    values += std::to_string(i == 5 ? 0 : 16) + " ";
  WriteWholeFile(dir.File("zero"), Bytes(values));
  EXPECT_FALSE(ReadQuantiserMatrix(dir.File("zero"), matrix, error));
  values.replace(values.find(" 0 "), 3, " 9 ");
  WriteWholeFile(dir.File("good"), Bytes(values));
  EXPECT_TRUE(ReadQuantiserMatrix(dir.File("good"), matrix, error));
  EXPECT_EQ(matrix[5], 9);
}

}  // namespace
}  // namespace qv::formatswitch
