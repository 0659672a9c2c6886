#include "workfiles/logo_picture.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "tests/support/form_driver.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"

namespace qv {
namespace {

using testing::MakePicture;
using testing::PictureKind;
using testing::TempDir;

Bitmap Saved(const TempDir& dir, LogoKind kind) {
  return LoadBitmap(dir.File(std::string(NamesOf(kind).picture)));
}

TEST(LogoKinds, NamesAndConverterCommands) {
  EXPECT_EQ(NamesOf(LogoKind::kBoot).picture, "boot.bmp");
  EXPECT_EQ(NamesOf(LogoKind::kMenu).picture, "menu.bmp");
  EXPECT_EQ(NamesOf(LogoKind::kRadio).picture, "radio.bmp");
  EXPECT_EQ(NamesOf(LogoKind::kBoot).command, "/c formatswitch.exe -c boot.bmp");
  EXPECT_EQ(NamesOf(LogoKind::kMenu).command, "/c formatswitch.exe -c menu.bmp");
  EXPECT_EQ(NamesOf(LogoKind::kRadio).command, "/c formatswitch.exe -c Radio.bmp");
  EXPECT_EQ(NamesOf(LogoKind::kRadio).still, "radio.m2v");
  EXPECT_EQ(NamesOf(LogoKind::kMenu).partition, "menu");
  for (LogoKind kind : {LogoKind::kBoot, LogoKind::kMenu, LogoKind::kRadio})
    EXPECT_EQ(NamesOf(kind).kind, kind);
}

TEST(LogoPicture, StandardBitmapsAreAcceptedSilentlyInTheFiftyFourByteLayout) {
  TempDir dir;
  for (int height : {576, 480}) {
    Bitmap source = MakePicture(PictureKind::kPhoto, 720, height);
    SaveBitmap(source, dir.File("chosen.bmp"));
    LogoPictureResult result =
        PrepareLogoPicture(dir.File("chosen.bmp"), LogoKind::kMenu, dir.path());
    EXPECT_TRUE(result.accepted());
    EXPECT_FALSE(result.resized_from);
    EXPECT_EQ(result.preview.file, dir.File("chosen.bmp"));
    EXPECT_FALSE(result.preview.picture);
    std::vector<uint8_t> file = ReadWholeFile(dir.File("menu.bmp"));
    EXPECT_EQ(file.size(), 54u + 2160u * static_cast<size_t>(height));
    EXPECT_EQ(ReadLe32(&file[10]), 54u);
    EXPECT_EQ(ReadLe32(&file[22]), static_cast<uint32_t>(height));
    EXPECT_EQ(Saved(dir, LogoKind::kMenu).pixels, source.pixels);
  }
}

TEST(LogoPicture, OffSizePicturesAreCutOrExtendedFromTheTopLeftAndTheirSizeIsReported) {
  TempDir dir;
  struct Case {
    int width, height, new_height;
  };
  for (Case c :
       {Case{800, 600, 576}, Case{640, 528, 480}, Case{720, 529, 576}, Case{100, 900, 576}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    Bitmap source = MakePicture(PictureKind::kGradient, c.width, c.height);
    SaveBitmap(source, dir.File("in.bmp"));
    LogoPictureResult result =
        PrepareLogoPicture(dir.File("in.bmp"), LogoKind::kBoot, dir.path() + "/");
    ASSERT_TRUE(result.accepted());
    ASSERT_TRUE(result.resized_from);
    EXPECT_EQ(result.resized_from->width, c.width);
    EXPECT_EQ(result.resized_from->height, c.height);
    Bitmap saved = Saved(dir, LogoKind::kBoot);
    ASSERT_EQ(saved.width, 720);
    ASSERT_EQ(saved.height, c.new_height);
    ASSERT_EQ(saved.bits_per_pixel, 24);
    int white_columns = 0, white_rows = 0;
    for (int x = 0; x < 720; ++x) {
      bool kept = x < c.width;
      if (!kept && PixelColour(saved, x, 0) == 0xFFFFFF &&
          PixelColour(saved, x, c.new_height - 1) == 0xFFFFFF) {
        ++white_columns;
      }
      if (kept) {
        ASSERT_EQ(PixelColour(saved, x, 1), PixelColour(source, x, 1));
      }
    }
    for (int y = 0; y < c.new_height; ++y) {
      if (y < c.height) {
        ASSERT_EQ(PixelColour(saved, 3, y), PixelColour(source, 3, y));
      } else if (PixelColour(saved, 0, y) == 0xFFFFFF && PixelColour(saved, 5, y) == 0xFFFFFF) {
        ++white_rows;
      }
    }
    EXPECT_EQ(white_columns, std::max(0, 720 - c.width));
    EXPECT_EQ(white_rows, std::max(0, c.new_height - c.height));
  }
}

TEST(LogoPicture, PicturesThatAreNotTwentyFourBitAreRefusedForTheirDepth) {
  TempDir dir;
  // An 8-bit bitmap of the standard size and one of another size.
  for (int width : {720, 300}) {
    SaveBitmap(testing::IndexedBitmap(width, 576, testing::GreyPalette(256), 100),
               dir.File("grey.bmp"));
    LogoPictureResult result =
        PrepareLogoPicture(dir.File("grey.bmp"), LogoKind::kRadio, dir.path());
    EXPECT_FALSE(result.accepted());
    EXPECT_EQ(result.refusal, PictureRefusal::kPixelDepth);
    EXPECT_FALSE(result.resized_from);
    EXPECT_FALSE(FileExists(dir.File("radio.bmp")));  // no picture was accepted
  }
  // An 8-bit bitmap stored with run-length pixels (rows of three runs, 255 + 255 + 210).
  std::vector<uint8_t> runs;
  for (int row = 0; row < 576; ++row)
    runs.insert(runs.end(), {255, 3, 255, 3, 210, 3, 0, 0});
  runs.insert(runs.end(), {0, 1});
  WriteWholeFile(dir.File("runs.bmp"),
                 testing::RunLengthBitmapFile(720, 576, 8, std::vector<uint32_t>(16, 0), runs));
  LogoPictureResult compressed =
      PrepareLogoPicture(dir.File("runs.bmp"), LogoKind::kMenu, dir.path());
  EXPECT_FALSE(compressed.accepted());
  EXPECT_EQ(compressed.refusal, PictureRefusal::kPixelDepth);

  // A rejected picture leaves the picture of an earlier choice as it was.
  Bitmap earlier = MakePicture(PictureKind::kGradient, 720, 576);
  SaveBitmap(earlier, dir.File("chosen.bmp"));
  ASSERT_TRUE(PrepareLogoPicture(dir.File("chosen.bmp"), LogoKind::kRadio, dir.path()).accepted());
  EXPECT_FALSE(PrepareLogoPicture(dir.File("grey.bmp"), LogoKind::kRadio, dir.path()).accepted());
  EXPECT_EQ(Saved(dir, LogoKind::kRadio).pixels, earlier.pixels);
  EXPECT_FALSE(FileExists(dir.File("radio.bmp.new")));
  // A greyscale JPEG decodes to 8 bits per pixel.
  testing::WriteJpeg(MakePicture(PictureKind::kPortrait, 720, 576), dir.File("grey.jpg"), 90, true);
  LogoPictureResult result = PrepareLogoPicture(dir.File("grey.jpg"), LogoKind::kBoot, dir.path());
  EXPECT_FALSE(result.accepted());
  EXPECT_EQ(result.refusal, PictureRefusal::kPixelDepth);
  ASSERT_TRUE(result.preview.picture);
  EXPECT_EQ(result.preview.picture->bits_per_pixel, 8);
}

TEST(LogoPicture, ColourJpegsTakeTheJpegPathWhateverTheCaseOfTheExtension) {
  TempDir dir;
  Bitmap source = MakePicture(PictureKind::kPortrait, 800, 600);
  testing::WriteJpeg(source, dir.File("Logo.JPG"), 95);
  LogoPictureResult result = PrepareLogoPicture(dir.File("Logo.JPG"), LogoKind::kBoot, dir.path());
  ASSERT_TRUE(result.accepted());
  ASSERT_TRUE(result.preview.picture);
  EXPECT_EQ(result.preview.picture->width, 800);  // the preview shows the decoded JPEG
  EXPECT_EQ(result.preview.picture->bits_per_pixel, 24);
  ASSERT_TRUE(result.resized_from);
  EXPECT_EQ(result.resized_from->width, 800);
  EXPECT_EQ(result.resized_from->height, 600);
  Bitmap saved = Saved(dir, LogoKind::kBoot);
  EXPECT_EQ(saved.width, 720);
  EXPECT_EQ(saved.height, 576);
  // Decoded colours are close to the source's (a smooth picture at quality 95).
  for (int y : {10, 300, 570}) {
    uint32_t a = PixelColour(saved, 360, y), b = PixelColour(source, 360, y);
    for (int shift : {0, 8, 16}) {
      EXPECT_NEAR(static_cast<int>((a >> shift) & 0xFF), static_cast<int>((b >> shift) & 0xFF), 6);
    }
  }
}

TEST(LogoPicture, DamagedJpegsRaiseTheDecodersOwnError) {
  TempDir dir;
  testing::WriteJpeg(MakePicture(PictureKind::kPhoto, 320, 240), dir.File("good.jpg"));
  std::vector<uint8_t> good = ReadWholeFile(dir.File("good.jpg"));
  struct Case {
    std::vector<uint8_t> bytes;
    const char* text;
  };
  std::vector<uint8_t> truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  std::vector<uint8_t> not_jpeg = {'h', 'e', 'l', 'l', 'o', 0, 0, 0};
  std::vector<uint8_t> header_only(good.begin(), good.begin() + 40);
  for (const Case& c :
       {Case{truncated, "Premature end of JPEG file"}, Case{not_jpeg, "Not a JPEG file"},
        Case{header_only, "JPEG"}, Case{{}, "Empty input file"}}) {
    WriteWholeFile(dir.File("bad.jpg"), c.bytes);
    try {
      PrepareLogoPicture(dir.File("bad.jpg"), LogoKind::kMenu, dir.path());
      ADD_FAILURE() << "accepted a damaged JPEG";
    } catch (const IoError& error) {
      EXPECT_NE(std::string(error.what()).find(c.text), std::string::npos) << error.what();
    }
  }
  EXPECT_THROW(PrepareLogoPicture(dir.File("missing.jpg"), LogoKind::kMenu, dir.path()), IoError);
  WriteWholeFile(dir.File("bad.bmp"), good);  // a JPEG named .bmp
  EXPECT_THROW(PrepareLogoPicture(dir.File("bad.bmp"), LogoKind::kMenu, dir.path()), IoError);
  EXPECT_FALSE(FileExists(dir.File("menu.bmp")));  // nothing half-made is left behind
  EXPECT_FALSE(FileExists(dir.File("menu.bmp.new")));
}

TEST(LogoPicture, OtherExtensionsAreRefusedWithoutTouchingTheLogoPicture) {
  TempDir dir;
  Bitmap earlier = MakePicture(PictureKind::kFlatLogo, 720, 576);
  SaveBitmap(earlier, dir.File("boot.bmp"));
  SaveBitmap(earlier, dir.File("picture.png"));
  for (const char* name : {"picture.png", "picture", "picture.jpeg"}) {
    LogoPictureResult result = PrepareLogoPicture(dir.File(name), LogoKind::kBoot, dir.path());
    EXPECT_FALSE(result.accepted());
    EXPECT_EQ(result.refusal, PictureRefusal::kNotJpegOrBmp);
    EXPECT_FALSE(result.resized_from);
    EXPECT_FALSE(result.preview.Loaded());
  }
  EXPECT_EQ(Saved(dir, LogoKind::kBoot).pixels, earlier.pixels);
}

TEST(CheckPicture, ReadsTheDepthFromTheSavedFile) {
  TempDir dir;
  Bitmap picture = MakePicture(PictureKind::kGradient, 720, 480);
  WriteWholeFile(dir.File("short.bmp"), std::vector<uint8_t>(29, 0));
  Result<std::optional<PictureSize>> checked = CheckPicture(picture, dir.File("short.bmp"));
  ASSERT_FALSE(checked);
  EXPECT_EQ(checked.error().field, "bit count");
  EXPECT_EQ(checked.error().offset, 28);
  std::vector<uint8_t> header(54, 0);
  WriteLe16(&header[28], 24);
  WriteWholeFile(dir.File("depth.bmp"), header);
  checked = CheckPicture(picture, dir.File("depth.bmp"));
  ASSERT_TRUE(checked);
  EXPECT_FALSE(*checked);  // a standard size: nothing to report
  WriteLe16(&header[28], 32);
  WriteWholeFile(dir.File("depth.bmp"), header);
  checked = CheckPicture(picture, dir.File("depth.bmp"));
  ASSERT_FALSE(checked);
  EXPECT_NE(checked.error().text.find("32 bits per pixel"), std::string::npos)
      << checked.error().text;
  // A refused picture keeps its size.
  Bitmap odd = MakePicture(PictureKind::kGradient, 300, 200);
  EXPECT_FALSE(CheckPicture(odd, dir.File("depth.bmp")));
  EXPECT_EQ(odd.width, 300);
  EXPECT_EQ(odd.height, 200);
}

// The texts the choose workflow shows for each result of a logo picture, byte for byte: the
// picture results carry no texts of their own.
TEST(LogoPictureMessages, EachResultIsShownWithItsFixedText) {
  testing::FormDriver driver;
  driver.Open(driver.WriteImage(sample::DefaultImageSpec(kAppImage), "box.bin"));
  Job& job = driver.job();
  ASSERT_EQ(job.phase(), JobPhase::kOpened) << ::testing::PrintToString(driver.ui().TakeMessages());
  SaveBitmap(MakePicture(PictureKind::kGradient, 640, 528), driver.Input("small.bmp"));
  SaveBitmap(MakePicture(PictureKind::kGradient, 720, 576), driver.Input("picture.png"));
  testing::WriteJpeg(MakePicture(PictureKind::kGradient, 720, 576), driver.Input("grey.jpg"), 90,
                     true);

  ChoiceOutcome resized = job.ChooseLogo(LogoKind::kBoot, driver.Input("small.bmp"));
  EXPECT_TRUE(resized.done());
  ASSERT_EQ(resized.messages.size(), 1u);
  EXPECT_EQ(resized.messages[0].kind, MessageKind::kInformation);
  EXPECT_EQ(resized.messages[0].text,
            "Quorvane: The size of the picture: 640*528...\r\rStandard picture size: [24 Bit], "
            "[720*576] or [720*480].\r\rWill from top left corner intercept 720*576 sizes.");

  ChoiceOutcome depth = job.ChooseLogo(LogoKind::kMenu, driver.Input("grey.jpg"));
  EXPECT_EQ(depth.status, Status::kRefused);
  ASSERT_EQ(depth.messages.size(), 1u);
  EXPECT_EQ(depth.messages[0].kind, MessageKind::kError);
  EXPECT_EQ(depth.messages[0].text, "Quorvane: Open File Error: File pixel wrong, pixel is 24!");

  ChoiceOutcome type = job.ChooseLogo(LogoKind::kRadio, driver.Input("picture.png"));
  EXPECT_EQ(type.status, Status::kRefused);
  ASSERT_EQ(type.messages.size(), 1u);
  EXPECT_EQ(type.messages[0].kind, MessageKind::kError);
  EXPECT_EQ(type.messages[0].text,
            "Quorvane: Open File Error: The picture must be a *.jpg or *.bmp file!");
  EXPECT_TRUE(job.Chosen(LogoKind::kBoot));
  EXPECT_FALSE(job.Chosen(LogoKind::kMenu));
  EXPECT_FALSE(job.Chosen(LogoKind::kRadio));
}

}  // namespace
}  // namespace qv
