#include "formatswitch/converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

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
  // A malformed line, or a malformed matrix file the parameter file names: the message names
  // the file and gives the reader's sentence as it stands.
  const std::string directory =
      std::filesystem::canonical(work.File("formatswitch")).parent_path().string();
  par = kPalParContent;
  par.replace(par.find("720            /* horizontal_size"), 3, "7x0");
  WriteWholeFile(work.File("PAL.par"), Bytes(par));
  run = work.Convert("radio.bmp");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.errors,
            "Error: " + directory + "/PAL.par: line 15: expected a whole number, not \"7x0\"\n");
  par = kPalParContent;
  par.replace(par.find("-              /* intra"), 5, "m.txt");
  WriteWholeFile(work.File("PAL.par"), Bytes(par));
  WriteWholeFile(work.File("M.TXT"), Bytes("8 16 16"));
  run = work.Convert("radio.bmp");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.errors, "Error: quantiser matrix file m.txt: expected 64 numbers, found 3\n");
  // A parameter file that cannot be read is not replaced by the built-in one.
  std::filesystem::remove(work.File("PAL.par"));
  std::filesystem::create_directory(work.File("PAL.par"));
  run = work.Convert("radio.bmp");
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("Error: cannot read " + directory + "/PAL.par: "), std::string::npos)
      << run.errors;

  for (const std::string& name : work.Files())
    EXPECT_EQ(name.find(".m2v"), std::string::npos) << name;
}

TEST(ParameterFile, ReportsTheLineThatIsWrongAndRefusesUnsupportedValues) {
  Result<EncoderParameters> parsed = ParseParameterFile("title\r\ntest0\r\n");
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().text, "the file has 3 lines, fewer than 55");
  EXPECT_EQ(parsed.error().field, "line count");
  EXPECT_EQ(parsed.error().offset, -1);

  // A malformed or missing value: the text names the line, the error its parameter and line.
  const std::string text(kPalParContent);
  struct Broken {
    std::string_view value, replacement, text, field;
    int64_t line;
  };
  const Broken broken_lines[] = {
      {"720            /* horizontal_size", "7x0", "line 15: expected a whole number, not \"7x0\"",
       "horizontal_size", 15},
      {"00:00:00:00", "00:00:00   ", "line 10: expected a time code hh:mm:ss:ff, not \"00:00:00\"",
       "time_code", 10},
      {"1 0 0          /* intra_vlc", "1    ", "line 38: expected a whole number, not \"/*\"",
       "intra_vlc_format", 38},
      {"5000000.0", "5e999    ", "line 19: expected a number, not \"5e999\"", "bit_rate", 19},
  };
  for (const Broken& b : broken_lines) {
    SCOPED_TRACE(b.text);
    std::string broken = text;
    broken.replace(broken.find(b.value), b.replacement.size(), b.replacement);
    parsed = ParseParameterFile(broken);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().text, b.text);
    EXPECT_EQ(parsed.error().field, b.field);
    EXPECT_EQ(parsed.error().offset, b.line);
  }
  std::string blank = text;  // line 7 holds nothing at all
  const size_t line_7 = blank.find("2              /* input picture file format");
  blank.erase(line_7, blank.find("\r\n", line_7) - line_7);
  parsed = ParseParameterFile(blank);
  ASSERT_FALSE(parsed);
  EXPECT_EQ(parsed.error().text, "line 7: expected a value");
  EXPECT_EQ(parsed.error().field, "input_format");
  EXPECT_EQ(parsed.error().offset, 7);

  parsed = ParseParameterFile(text);
  ASSERT_TRUE(parsed) << parsed.error().text;
  const EncoderParameters& p = *parsed;
  // A value the encoder cannot honour: the first one found is named, with its line.
  struct Unsupported {
    std::function<void(EncoderParameters&)> change;
    std::string_view text, field;
    int64_t line;
  };
  const Unsupported unsupported[] = {
      {[](EncoderParameters& q) { q.chroma_format = 2; },
       "chroma_format 2 is not supported (only 1, 4:2:0)", "chroma_format", 26},
      {[](EncoderParameters& q) { q.field_pictures = 1; },
       "field pictures are not supported (only frame pictures)", "field_pictures", 14},
      {[](EncoderParameters& q) { q.intra_dc_precision = 4; },
       "intra_dc_precision 4 is out of range", "intra_dc_precision", 33},
      {[](EncoderParameters& q) { q.colour_primaries = 256; },
       "color_primaries 256 is out of range", "colour_primaries", 28},
      {[](EncoderParameters& q) { q.q_scale_type[2] = 2; }, "q_scale_type 2 is out of range",
       "q_scale_type", 37},
      // A progressive frame needs frame DCT only.
      {[](EncoderParameters& q) { q.progressive_frame = 1; },
       "frame_pred_frame_dct must be 1 for a progressive frame", "frame_pred_frame_dct", 35},
  };
  ASSERT_TRUE(CheckEncoderParameters(p));
  for (const Unsupported& u : unsupported) {
    SCOPED_TRACE(u.text);
    EncoderParameters q = p;
    u.change(q);
    Result<void> checked = CheckEncoderParameters(q);
    ASSERT_FALSE(checked);
    EXPECT_EQ(checked.error().text, u.text);
    EXPECT_EQ(checked.error().field, u.field);
    EXPECT_EQ(checked.error().offset, u.line);
  }

  TempDir dir;
  Result<QuantiserMatrix> matrix = ReadQuantiserMatrix(dir.File("none"));
  ASSERT_FALSE(matrix);
  EXPECT_EQ(matrix.error().text, "File not found");
  WriteWholeFile(dir.File("short"), Bytes("8 16 16"));
  matrix = ReadQuantiserMatrix(dir.File("short"));
  ASSERT_FALSE(matrix);
  EXPECT_EQ(matrix.error().text, "expected 64 numbers, found 3");
  EXPECT_EQ(matrix.error().offset, 7);  // the end of the file
  std::string values;
  for (int i = 0; i < 64; ++i)
    values += std::to_string(i == 5 ? 0 : 16) + " ";
  WriteWholeFile(dir.File("zero"), Bytes(values));
  matrix = ReadQuantiserMatrix(dir.File("zero"));
  ASSERT_FALSE(matrix);
  EXPECT_EQ(matrix.error().text, "value 0 is outside 1 to 255");
  EXPECT_EQ(matrix.error().offset, 15);  // "16 " five times, then the 0
  values.replace(values.find(" 0 "), 3, " 9 ");
  WriteWholeFile(dir.File("good"), Bytes(values));
  matrix = ReadQuantiserMatrix(dir.File("good"));
  ASSERT_TRUE(matrix) << matrix.error().text;
  EXPECT_EQ((*matrix)[5], 9);
}

}  // namespace
}  // namespace qv::formatswitch
