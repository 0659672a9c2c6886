#include "workfiles/logo_picture.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "tests/support/form_driver.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"
#include "workfiles/fit_picture.h"
#include "workfiles/png_picture.h"

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
  SaveBitmap(earlier, dir.File("picture.gif"));
  for (const char* name : {"picture.gif", "picture", "picture.jpeg"}) {
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
  SaveBitmap(MakePicture(PictureKind::kGradient, 720, 576), driver.Input("picture.gif"));
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

  ChoiceOutcome type = job.ChooseLogo(LogoKind::kRadio, driver.Input("picture.gif"));
  EXPECT_EQ(type.status, Status::kRefused);
  ASSERT_EQ(type.messages.size(), 1u);
  EXPECT_EQ(type.messages[0].kind, MessageKind::kError);
  EXPECT_EQ(type.messages[0].text,
            "Quorvane: Open File Error: The picture must be a *.jpg or *.bmp file!");
  EXPECT_TRUE(job.Chosen(LogoKind::kBoot));
  EXPECT_FALSE(job.Chosen(LogoKind::kMenu));
  EXPECT_FALSE(job.Chosen(LogoKind::kRadio));
}

// A PNG test picture: its layout, its samples and the 24-bit colour (0x00RRGGBB) each pixel
// should become.
struct PngCase {
  const char* name;
  testing::PngLayout layout;
  std::function<std::array<uint16_t, 4>(int32_t, int32_t)> samples;
  std::function<uint32_t(int32_t, int32_t)> colour;
};

testing::PngLayout Layout(int colour_type, int bit_depth, bool interlaced = false,
                          std::vector<uint32_t> palette = {}, std::vector<uint8_t> alphas = {}) {
  return {colour_type, bit_depth, interlaced, std::move(palette), std::move(alphas)};
}

uint32_t Grey(uint32_t value) {
  return value * 0x010101;
}
uint32_t Rgb(uint32_t red, uint32_t green, uint32_t blue) {
  return red << 16 | green << 8 | blue;
}
uint8_t Red(int32_t x, int32_t) {
  return static_cast<uint8_t>(x * 4);
}
uint8_t Green(int32_t, int32_t y) {
  return static_cast<uint8_t>(y * 5 + 3);
}
uint8_t Blue(int32_t x, int32_t y) {
  return static_cast<uint8_t>(x + y);
}
bool Transparent(int32_t x, int32_t y) {
  return (x + y) % 3 == 0;
}

std::vector<PngCase> EveryKindOfPng() {
  std::vector<uint32_t> palette(256);
  for (uint32_t i = 0; i < 256; ++i)
    palette[i] = Rgb(i, 255 - i, (i * 7) & 0xFF);
  auto index = [](int32_t x, int32_t y) { return static_cast<uint16_t>((x + 3 * y) & 0xFF); };
  auto opaque_colour = [](int32_t x, int32_t y) { return Rgb(Red(x, y), Green(x, y), Blue(x, y)); };
  return {
      {"grey 1-bit", Layout(0, 1),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>((x ^ y) & 1)};
       },
       [](int32_t x, int32_t y) { return (x ^ y) & 1 ? 0xFFFFFFu : 0u; }},
      {"grey 2-bit interlaced", Layout(0, 2, true),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>((x + 2 * y) % 4)};
       },
       [](int32_t x, int32_t y) { return Grey(static_cast<uint32_t>((x + 2 * y) % 4) * 85); }},
      {"grey 4-bit", Layout(0, 4),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>((x * y) % 16)};
       },
       [](int32_t x, int32_t y) { return Grey(static_cast<uint32_t>((x * y) % 16) * 17); }},
      {"grey 8-bit", Layout(0, 8),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>((5 * x + 3 * y) & 0xFF)};
       },
       [](int32_t x, int32_t y) { return Grey(static_cast<uint32_t>(5 * x + 3 * y) & 0xFF); }},
      {"grey 16-bit interlaced", Layout(0, 16, true),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>(((7 * x + y) & 0xFF) * 257)};
       },
       [](int32_t x, int32_t y) { return Grey(static_cast<uint32_t>(7 * x + y) & 0xFF); }},
      {"grey and alpha", Layout(4, 8),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>((4 * x + y) & 0xFF),
                 Transparent(x, y) ? uint16_t{0} : uint16_t{255}};
       },
       [](int32_t x, int32_t y) {
         return Transparent(x, y) ? 0u : Grey(static_cast<uint32_t>(4 * x + y) & 0xFF);
       }},
      {"palette", Layout(3, 8, false, palette),
       [index](int32_t x, int32_t y) -> std::array<uint16_t, 4> { return {index(x, y)}; },
       [index, palette](int32_t x, int32_t y) { return palette[index(x, y)]; }},
      {"palette 2-bit with tRNS",
       Layout(3, 2, false, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}, {0, 255, 255, 0}),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>((x + y) % 4)};
       },
       [](int32_t x, int32_t y) {
         const uint32_t colours[] = {0, 0x00FF00, 0x0000FF, 0};  // entries 0 and 3 transparent
         return colours[(x + y) % 4];
       }},
      {"RGB 8-bit", Layout(2, 8),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {Red(x, y), Green(x, y), Blue(x, y)};
       },
       opaque_colour},
      {"RGB 16-bit", Layout(2, 16),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>(Red(x, y) * 257), static_cast<uint16_t>(Green(x, y) * 257),
                 static_cast<uint16_t>(Blue(x, y) * 257)};
       },
       opaque_colour},
      {"RGBA 8-bit interlaced", Layout(6, 8, true),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {Red(x, y), Green(x, y), Blue(x, y),
                 Transparent(x, y) ? uint16_t{0} : uint16_t{255}};
       },
       [opaque_colour](int32_t x, int32_t y) {
         return Transparent(x, y) ? 0u : opaque_colour(x, y);
       }},
      {"RGBA 16-bit", Layout(6, 16),
       [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
         return {static_cast<uint16_t>(Red(x, y) * 257), static_cast<uint16_t>(Green(x, y) * 257),
                 static_cast<uint16_t>(Blue(x, y) * 257),
                 Transparent(x, y) ? uint16_t{0} : uint16_t{65535}};
       },
       [opaque_colour](int32_t x, int32_t y) {
         return Transparent(x, y) ? 0u : opaque_colour(x, y);
       }},
  };
}

// Every colour type and depth becomes the 24-bit picture its samples describe, then takes the
// size rule of any picture: 61 x 47 is extended with white to 720 x 480 and reported.
TEST(PngLogoPicture, EveryColourTypeAndDepthBecomesItsTwentyFourBitColours) {
  TempDir dir;
  constexpr int32_t kWidth = 61, kHeight = 47;
  for (const PngCase& c : EveryKindOfPng()) {
    SCOPED_TRACE(c.name);
    testing::WritePng(dir.File("logo.PNG"), kWidth, kHeight, c.layout, c.samples);
    LogoPictureResult result =
        PrepareLogoPicture(dir.File("logo.PNG"), LogoKind::kMenu, dir.path());
    ASSERT_TRUE(result.accepted()) << result.unreadable;
    ASSERT_TRUE(result.resized_from);
    EXPECT_EQ(result.resized_from->width, kWidth);
    EXPECT_EQ(result.resized_from->height, kHeight);
    ASSERT_TRUE(result.preview.picture);
    EXPECT_EQ(result.preview.picture->width, kWidth);
    Bitmap saved = Saved(dir, LogoKind::kMenu);
    ASSERT_EQ(saved.width, 720);
    ASSERT_EQ(saved.height, 480);
    ASSERT_EQ(saved.bits_per_pixel, 24);
    int wrong = 0;
    for (int32_t y = 0; y < 480; ++y) {
      for (int32_t x = 0; x < 720; ++x) {
        const uint32_t expected = x < kWidth && y < kHeight ? c.colour(x, y) : 0xFFFFFF;
        if (PixelColour(saved, x, y) != expected && ++wrong < 4) {
          ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << PixelColour(saved, x, y)
                        << " instead of " << expected;
        }
      }
    }
    EXPECT_EQ(wrong, 0);
  }
  // Half transparency darkens a colour towards black.
  testing::WritePng(dir.File("half.png"), 8, 8, Layout(4, 8),
                    [](int32_t, int32_t) -> std::array<uint16_t, 4> {
                      return {200, 128};
                    });
  ASSERT_TRUE(PrepareLogoPicture(dir.File("half.png"), LogoKind::kBoot, dir.path()).accepted());
  const uint32_t half = PixelColour(Saved(dir, LogoKind::kBoot), 3, 3);
  EXPECT_EQ(half, Grey(half & 0xFF));
  EXPECT_GT(half & 0xFF, 0u);
  EXPECT_LT(half & 0xFF, 200u);
}

std::vector<uint8_t> PngChunk(const char* type, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> chunk;
  for (int shift : {24, 16, 8, 0})
    chunk.push_back(static_cast<uint8_t>(data.size() >> shift));
  for (int i = 0; i < 4; ++i)
    chunk.push_back(static_cast<uint8_t>(type[i]));
  for (uint8_t byte : data)
    chunk.push_back(byte);
  const uLong crc = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
  for (int shift : {24, 16, 8, 0})
    chunk.push_back(static_cast<uint8_t>(crc >> shift));
  return chunk;
}

// The signature and a sound IHDR of an 8-bit RGB picture of `width` x `height`, and nothing
// after it: whether it is refused before any pixel is decoded shows in the refusal's kind.
std::vector<uint8_t> PngHeader(uint32_t width, uint32_t height) {
  std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file.reserve(33);
  std::vector<uint8_t> header = {0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 0, 0};
  for (int i = 0; i < 4; ++i) {
    header[static_cast<size_t>(i)] = static_cast<uint8_t>(width >> (24 - 8 * i));
    header[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(height >> (24 - 8 * i));
  }
  for (uint8_t byte : PngChunk("IHDR", header))
    file.push_back(byte);
  return file;
}

TEST(PngLogoPicture, DamagedAndHugePngsAreRefusedWithoutTouchingTheLogoPicture) {
  TempDir dir;
  Bitmap earlier = MakePicture(PictureKind::kFlatLogo, 720, 576);
  SaveBitmap(earlier, dir.File("earlier.bmp"));
  ASSERT_TRUE(PrepareLogoPicture(dir.File("earlier.bmp"), LogoKind::kBoot, dir.path()).accepted());

  testing::WritePng(dir.File("good.png"), 100, 80, Layout(2, 8),
                    [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
                      return {Red(x, y), Green(x, y), Blue(x, y)};
                    });
  const std::vector<uint8_t> good = ReadWholeFile(dir.File("good.png"));
  std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
  std::vector<uint8_t> bad_crc = good;
  bad_crc[good.size() - 20] ^= 0x55;  // inside the last IDAT chunk or its CRC
  std::vector<uint8_t> bmp = EncodeBitmap(earlier);
  testing::WritePng(
      dir.File("deep.png"), 100, 80, Layout(6, 16, true),
      [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
        return {static_cast<uint16_t>(x * 600), static_cast<uint16_t>(y * 700), 9, 65535};
      });
  std::vector<uint8_t> deep = ReadWholeFile(dir.File("deep.png"));
  deep.resize(deep.size() * 2 / 3);
  for (const auto& [what, bytes] : std::vector<std::pair<const char*, std::vector<uint8_t>>>{
           {"cut short", cut},
           {"a changed byte", bad_crc},
           {"a bitmap", bmp},
           {"interlaced 16-bit, cut", deep},
           {"empty", {}},
           {"a header alone", PngHeader(64, 64)}}) {
    SCOPED_TRACE(what);
    WriteWholeFile(dir.File("bad.png"), bytes);
    LogoPictureResult result = PrepareLogoPicture(dir.File("bad.png"), LogoKind::kBoot, dir.path());
    EXPECT_EQ(result.refusal, PictureRefusal::kUnreadable);
    EXPECT_NE(result.unreadable.find("bad.png is no PNG picture the tool can read (libpng: "),
              std::string::npos)
        << result.unreadable;
    EXPECT_FALSE(result.preview.Loaded());
  }
  // Too large a side, or too many pixels, is refused from the header alone.
  for (const auto& [width, height, text] : std::vector<std::tuple<uint32_t, uint32_t, std::string>>{
           {20000, 10, "is 20000 x 10 pixels, more than the 16384 a side"},
           {10000, 8000, "is 10000 x 8000 pixels, more than the 67108864 pixels"}}) {
    WriteWholeFile(dir.File("huge.png"), PngHeader(width, height));
    LogoPictureResult result =
        PrepareLogoPicture(dir.File("huge.png"), LogoKind::kBoot, dir.path());
    EXPECT_EQ(result.refusal, PictureRefusal::kTooLarge);
    EXPECT_NE(result.too_large.find(text), std::string::npos) << result.too_large;
  }
  EXPECT_EQ(Saved(dir, LogoKind::kBoot).pixels, earlier.pixels);
  EXPECT_FALSE(FileExists(dir.File("boot.bmp.new")));
  // The decoder keeps its own pixel bound, whoever calls it.
  Result<Bitmap> bounded = DecodePng(good, 100 * 80 - 1);
  ASSERT_FALSE(bounded);
  EXPECT_NE(bounded.error().text.find("100 x 80 pixels is too large"), std::string::npos);
  EXPECT_TRUE(DecodePng(good, 100 * 80));
}

TEST(FitPicture, ScalesKeepingTheAspectRatioCentredOnBlack) {
  // Twice the size: each new pixel the rounded mean of the two by two it covers.
  const Bitmap large = MakePicture(PictureKind::kNoise, 1440, 1152);
  const Bitmap half = FitPicture(large, 720, 576);
  ASSERT_EQ(half.width, 720);
  ASSERT_EQ(half.height, 576);
  int wrong = 0;
  for (int32_t y = 0; y < 576; ++y) {
    for (int32_t x = 0; x < 720; ++x) {
      for (int c = 0; c < 3; ++c) {
        const int sum = large.Row(2 * y)[6 * x + c] + large.Row(2 * y)[6 * x + 3 + c] +
                        large.Row(2 * y + 1)[6 * x + c] + large.Row(2 * y + 1)[6 * x + 3 + c];
        wrong += half.Row(y)[3 * x + c] != (sum + 2) / 4;
      }
    }
  }
  EXPECT_EQ(wrong, 0);

  // A wide picture of the full width: black bars above and below, the picture itself between.
  const Bitmap wide = MakePicture(PictureKind::kPhoto, 720, 288);
  const Bitmap letterboxed = FitPicture(wide, 720, 576);
  for (int32_t y = 0; y < 576; ++y) {
    const bool inside = y >= 144 && y < 432;
    for (int32_t x : {0, 359, 719}) {
      ASSERT_EQ(PixelColour(letterboxed, x, y), inside ? PixelColour(wide, x, y - 144) : 0u)
          << x << "," << y;
    }
  }

  // Enlarged: a flat square stays flat, as tall as the picture, centred between black columns.
  Bitmap square = MakeBitmap24(100, 100);
  for (int32_t y = 0; y < 100; ++y) {
    for (int32_t x = 0; x < 100; ++x) {
      uint8_t* pixel = square.Row(y) + 3 * x;
      pixel[0] = 10, pixel[1] = 120, pixel[2] = 230;
    }
  }
  const Bitmap pillarboxed = FitPicture(square, 720, 480);
  for (int32_t x = 0; x < 720; ++x) {
    const uint32_t expected = x >= 120 && x < 600 ? Rgb(230, 120, 10) : 0u;
    ASSERT_EQ(PixelColour(pillarboxed, x, 0), expected) << x;
    ASSERT_EQ(PixelColour(pillarboxed, x, 479), expected) << x;
  }

  // A picture of the size itself comes back unchanged.
  const Bitmap exact = MakePicture(PictureKind::kGradient, 720, 480);
  EXPECT_EQ(FitPicture(exact, 720, 480).pixels, exact.pixels);
}

TEST(FitPicture, ChosenPicturesFitTheStandardSizeTheDepthRuleStillHolds) {
  TempDir dir;
  const Bitmap large = MakePicture(PictureKind::kGradient, 1440, 1152);
  SaveBitmap(large, dir.File("large.bmp"));
  LogoPictureResult result =
      PrepareLogoPicture(dir.File("large.bmp"), LogoKind::kRadio, dir.path(), FitStandard::kPal);
  ASSERT_TRUE(result.accepted());
  ASSERT_TRUE(result.resized_from);
  EXPECT_TRUE(result.fitted);
  EXPECT_EQ(result.resized_from->width, 1440);
  EXPECT_EQ(result.fitted_to.height, 576);
  EXPECT_EQ(Saved(dir, LogoKind::kRadio).pixels, FitPicture(large, 720, 576).pixels);

  // NTSC: 720 x 576 is scaled down to 480 rows, with black columns either side.
  testing::WritePng(dir.File("pal.png"), 720, 576, Layout(2, 8),
                    [](int32_t, int32_t) -> std::array<uint16_t, 4> {
                      return {255, 255, 255};
                    });
  result = PrepareLogoPicture(dir.File("pal.png"), LogoKind::kMenu, dir.path(), FitStandard::kNtsc);
  ASSERT_TRUE(result.accepted());
  EXPECT_TRUE(result.fitted);
  const Bitmap ntsc = Saved(dir, LogoKind::kMenu);
  ASSERT_EQ(ntsc.height, 480);
  EXPECT_EQ(PixelColour(ntsc, 0, 240), 0u);
  EXPECT_EQ(PixelColour(ntsc, 360, 240), 0xFFFFFFu);
  EXPECT_EQ(PixelColour(ntsc, 60, 240), 0xFFFFFFu);  // 600 columns wide, from column 60

  // The standard size is taken as it is, and an 8-bit picture is still refused for its depth.
  SaveBitmap(MakePicture(PictureKind::kGradient, 720, 576), dir.File("standard.bmp"));
  result =
      PrepareLogoPicture(dir.File("standard.bmp"), LogoKind::kBoot, dir.path(), FitStandard::kPal);
  EXPECT_TRUE(result.accepted());
  EXPECT_FALSE(result.resized_from);
  SaveBitmap(testing::IndexedBitmap(300, 200, testing::GreyPalette(256), 7), dir.File("grey.bmp"));
  result = PrepareLogoPicture(dir.File("grey.bmp"), LogoKind::kBoot, dir.path(), FitStandard::kPal);
  EXPECT_EQ(result.refusal, PictureRefusal::kPixelDepth);
}

}  // namespace
}  // namespace qv
