// The logo still decoder against ffmpeg, on stills the tool's own converter made, and on
// streams that are not one whole intra-coded still.
#include "workfiles/still_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>

#include "formatswitch/converter.h"
#include "platform/file.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"
#include "workfiles/parameter_files.h"

namespace qv {
namespace {

using testing::PictureKind;
using testing::TempDir;

// The still the tool's converter makes of `picture` (720 x 576 with PAL.par, 720 x 480 with
// NTSC.par), with the parameter file's matrix_coefficients line replaced when `matrix` is set.
std::vector<uint8_t> ConvertedStill(const TempDir& dir, const Bitmap& picture, int matrix = 0) {
  const bool pal = picture.height == 576;
  std::string par(pal ? kPalParContent : kNtscParContent);
  if (matrix != 0) {
    const size_t line = par.find("/* matrix_coefficients */");
    const size_t start = par.rfind("\r\n", line) + 2;
    par.replace(start, 1, std::to_string(matrix));
  }
  WriteWholeFile(dir.File(pal ? "PAL.par" : "NTSC.par"),
                 std::vector<uint8_t>(par.begin(), par.end()));
  SaveBitmap(picture, dir.File("logo.bmp"));
  std::ostringstream messages;
  EXPECT_TRUE(formatswitch::ConvertPicture("logo.bmp", dir.path(), messages)) << messages.str();
  return ReadWholeFile(dir.File("logo.m2v"));
}

// ffmpeg's decode of a still as raw frames in `pixel_format` (yuv420p: the Y' plane first;
// rgb24: red, green and blue per pixel), top row first.
std::vector<uint8_t> Ffmpeg(const TempDir& dir, const std::vector<uint8_t>& still,
                            const std::string& pixel_format) {
  WriteWholeFile(dir.File("referee.m2v"), still);
  testing::ProgramRun run =
      testing::RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", dir.File("referee.m2v"),
                           "-f", "rawvideo", "-pix_fmt", pixel_format, dir.File("referee.raw")});
  EXPECT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  return ReadWholeFile(dir.File("referee.raw"));
}

struct Difference {
  int luma = 0;        // Y' taken back from our colours, against ffmpeg's Y' plane
  int colour = 0;      // one colour component, against ffmpeg's own conversion to RGB
  size_t clipped = 0;  // pixels whose colours lie outside R'G'B', so Y' cannot be taken back
};

// Our picture against ffmpeg's Y'CbCr planes and its RGB picture. Y' is taken back from our
// colours with the still's own luma weights (Kr, Kb), into studio range, wherever ffmpeg's
// samples give colours inside R'G'B' (elsewhere the colours are clipped, and Y' is lost).
Difference Compare(const Bitmap& decoded, const std::vector<uint8_t>& ffmpeg_planes,
                   const std::vector<uint8_t>& ffmpeg_rgb, double kr, double kb) {
  const size_t width = static_cast<size_t>(decoded.width);
  const size_t pixels = width * decoded.height;
  const uint8_t* ffmpeg_cb = ffmpeg_planes.data() + pixels;
  const uint8_t* ffmpeg_cr = ffmpeg_cb + pixels / 4;
  const double kg = 1 - kr - kb;
  Difference most;
  for (int32_t y = 0; y < decoded.height; ++y) {
    const uint8_t* row = decoded.Row(y);
    for (int32_t x = 0; x < decoded.width; ++x) {
      const size_t at = static_cast<size_t>(y) * width + x;
      const int blue = row[3 * x], green = row[3 * x + 1], red = row[3 * x + 2];
      const uint8_t* theirs = ffmpeg_rgb.data() + 3 * at;
      most.colour = std::max({most.colour, std::abs(red - theirs[0]), std::abs(green - theirs[1]),
                              std::abs(blue - theirs[2])});

      const size_t chroma = (y / 2) * (width / 2) + x / 2;
      const double e_y = (ffmpeg_planes[at] - 16) * 255.0 / 219;
      const double e_cb = (ffmpeg_cb[chroma] - 128) * 255.0 / 224;
      const double e_cr = (ffmpeg_cr[chroma] - 128) * 255.0 / 224;
      const double e_red = e_y + 2 * (1 - kr) * e_cr;
      const double e_blue = e_y + 2 * (1 - kb) * e_cb;
      const double e_green = (e_y - kr * e_red - kb * e_blue) / kg;
      if (std::min({e_red, e_green, e_blue}) < 0 || std::max({e_red, e_green, e_blue}) > 255) {
        ++most.clipped;
        continue;
      }
      const double luma = kr * red + kg * green + kb * blue;
      const long back = std::lround(16 + luma * 219 / 255);
      most.luma = std::max(most.luma, static_cast<int>(std::abs(back - ffmpeg_planes[at])));
    }
  }
  return most;
}

// Every kind of test picture at both sizes, with the matrices the parameter files name
// (BT.601 in PAL.par, FCC in NTSC.par) and BT.709: the Y' of the decoded picture is ffmpeg's
// within one step (its IDCT rounds a few samples the other way), and its colours are ffmpeg's
// within the error of ffmpeg's fast fixed-point conversion (measured: 5 at most; a wrong
// matrix, chroma sample or component order gives tens).
TEST(StillDecoder, TheToolsOwnStillsDecodeAsFfmpegDecodesThem) {
  TempDir dir;
  struct Case {
    PictureKind kind;
    int height;
    int matrix;  // 0: the parameter file's own
  };
  std::vector<Case> cases;
  for (PictureKind kind : testing::AllPictureKinds()) {
    cases.push_back({kind, 576, 0});
    cases.push_back({kind, 480, 0});
  }
  cases.push_back({PictureKind::kColourBars, 576, 1});
  cases.push_back({PictureKind::kPhoto, 480, 1});
  Difference most;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(testing::PictureKindName(c.kind)) + " 720x" +
                 std::to_string(c.height) + " matrix " + std::to_string(c.matrix));
    const std::vector<uint8_t> still =
        ConvertedStill(dir, testing::MakePicture(c.kind, 720, c.height, 5), c.matrix);
    Result<Bitmap> decoded = DecodeStill(still);
    ASSERT_TRUE(decoded) << decoded.error().field << ": " << decoded.error().text;
    ASSERT_EQ(decoded->width, 720);
    ASSERT_EQ(decoded->height, c.height);
    ASSERT_EQ(decoded->bits_per_pixel, 24);
    const std::vector<uint8_t> planes = Ffmpeg(dir, still, "yuv420p");
    const std::vector<uint8_t> rgb = Ffmpeg(dir, still, "rgb24");
    const size_t pixels = 720u * c.height;
    ASSERT_EQ(planes.size(), pixels * 3 / 2);
    ASSERT_EQ(rgb.size(), pixels * 3);
    const double kr = c.matrix == 1 ? 0.2126 : c.height == 480 ? 0.30 : 0.299;
    const double kb = c.matrix == 1 ? 0.0722 : c.height == 480 ? 0.11 : 0.114;
    const Difference difference = Compare(*decoded, planes, rgb, kr, kb);
    EXPECT_LE(difference.luma, 1);
    EXPECT_LE(difference.colour, 6);
    EXPECT_LT(difference.clipped, pixels / 2);  // white text on clipped ringing: a third
    most.luma = std::max(most.luma, difference.luma);
    most.colour = std::max(most.colour, difference.colour);
  }
  std::printf("largest difference from ffmpeg: Y' %d, colour component %d\n", most.luma,
              most.colour);
}

// A still the tests can take apart: its start codes by offset.
class BrokenStill : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    TempDir dir;
    still_ = new std::vector<uint8_t>(
        ConvertedStill(dir, testing::MakePicture(PictureKind::kPhoto, 720, 576, 2)));
  }
  static void TearDownTestSuite() {
    delete still_;
    still_ = nullptr;
  }

  static const std::vector<uint8_t>& Still() { return *still_; }
  // The offset of the `nth` start code of `value` (counted from 0).
  static size_t StartCode(uint8_t value, int nth = 0) {
    const std::vector<uint8_t>& s = Still();
    for (size_t i = 0; i + 3 < s.size(); ++i) {
      if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && s[i + 3] == value && nth-- == 0) return i;
    }
    ADD_FAILURE() << "no start code " << int(value);
    return 0;
  }

  static void ExpectRefused(const std::vector<uint8_t>& stream, const std::string& field,
                            int64_t offset, const std::string& text_part) {
    SCOPED_TRACE(field + ": " + text_part);
    Result<Bitmap> decoded = DecodeStill(stream);
    ASSERT_FALSE(decoded);
    EXPECT_EQ(decoded.error().field, field) << decoded.error().text;
    EXPECT_EQ(decoded.error().offset, offset) << decoded.error().text;
    EXPECT_NE(decoded.error().text.find(text_part), std::string::npos) << decoded.error().text;
  }

  static std::vector<uint8_t>* still_;
};
std::vector<uint8_t>* BrokenStill::still_ = nullptr;

TEST_F(BrokenStill, TheStillItselfDecodes) {
  EXPECT_TRUE(DecodeStill(Still()));
  // Zero bytes before the first start code are stuffing.
  std::vector<uint8_t> stuffed = {0, 0, 0};
  stuffed.insert(stuffed.end(), Still().begin(), Still().end());
  EXPECT_TRUE(DecodeStill(stuffed));
}

TEST_F(BrokenStill, AStreamWithoutTheHeadersOfAStillIsRefused) {
  ExpectRefused({}, "sequence header", 0, "does not begin with a sequence header");
  ExpectRefused(std::vector<uint8_t>(5000, 0xA5), "sequence header", 0, "sequence header");
  std::vector<uint8_t> late = {0x47};
  late.insert(late.end(), Still().begin(), Still().end());
  ExpectRefused(late, "sequence header", 0, "does not begin with a sequence header");
  ExpectRefused({0, 0, 1, 0xB3, 0x2D, 0x02}, "sequence header", 0, "ends inside");

  // MPEG-1: a sequence header without the sequence extension.
  std::vector<uint8_t> mpeg1 = Still();
  mpeg1[StartCode(0xB5) + 4] = 0x24;  // the extension now a sequence display extension
  ExpectRefused(mpeg1, "sequence extension", static_cast<int64_t>(StartCode(0xB5)),
                "not an MPEG-2 video stream");
  // What the sample builder puts where stills belong: a sequence header before noise.
  const uint8_t head[] = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x23};
  std::vector<uint8_t> noise = testing::MakePicture(PictureKind::kNoise, 100, 50).pixels;
  std::copy(std::begin(head), std::end(head), noise.begin());
  noise.insert(noise.end(), {0x00, 0x00, 0x01, 0xB7});
  EXPECT_FALSE(DecodeStill(noise));
}

TEST_F(BrokenStill, ASizeOrChromaFormatOtherThanTheLogosIsRefused) {
  std::vector<uint8_t> narrow = Still();
  narrow[4] = 0x2C;  // horizontal_size 704
  ExpectRefused(narrow, "picture size", 4, "the still is 704 x 576, not 720 x 576 or 720 x 480");
  std::vector<uint8_t> tall = Still();
  tall[6] = 0x80;  // vertical_size 640
  ExpectRefused(tall, "picture size", 4, "720 x 640");
  std::vector<uint8_t> extended = Still();
  extended[StartCode(0xB5) + 6] |= 0x20;  // vertical_size_extension 1: 576 + 4096
  ExpectRefused(extended, "picture size", 4, "720 x 4672");
  std::vector<uint8_t> chroma = Still();
  chroma[StartCode(0xB5) + 5] = (chroma[StartCode(0xB5) + 5] & ~0x06) | 0x04;  // 4:2:2
  ExpectRefused(chroma, "chroma format", static_cast<int64_t>(StartCode(0xB5) + 5), "4:2:2");
}

TEST_F(BrokenStill, AnythingButOneIntraCodedFramePictureIsRefused) {
  const size_t picture = StartCode(0x00);
  const size_t end = Still().size() - 4;
  // The picture twice.
  std::vector<uint8_t> two(Still().begin(), Still().begin() + static_cast<long>(end));
  two.insert(two.end(), Still().begin() + static_cast<long>(picture), Still().end());
  ExpectRefused(two, "picture", static_cast<int64_t>(end), "holds 2 pictures, not one");
  // No picture: the headers and the end code.
  std::vector<uint8_t> none(Still().begin(), Still().begin() + static_cast<long>(picture));
  none.insert(none.end(), {0x00, 0x00, 0x01, 0xB7});
  ExpectRefused(none, "picture", -1, "holds no picture");

  std::vector<uint8_t> predicted = Still();
  predicted[picture + 5] = (predicted[picture + 5] & ~0x38) | (2 << 3);
  ExpectRefused(predicted, "picture coding type", static_cast<int64_t>(picture + 5),
                "predictive-coded (P), not intra-coded (I)");
  std::vector<uint8_t> field = Still();
  const size_t coding = StartCode(0xB5, 2);  // sequence, sequence display, picture coding
  ASSERT_EQ(field[coding + 4] >> 4, 8);
  field[coding + 6] = (field[coding + 6] & ~0x03) | 0x01;  // top field
  ExpectRefused(field, "picture structure", static_cast<int64_t>(coding + 6), "coded as a field");
}

TEST_F(BrokenStill, AStreamCutShortOrWithoutItsEndCodeIsRefused) {
  const std::vector<uint8_t>& still = Still();
  ExpectRefused({still.begin(), still.end() - 4}, "sequence end code",
                static_cast<int64_t>(still.size() - 4), "does not end with the sequence end code");
  ExpectRefused({still.begin(), still.end() - 1}, "sequence end code",
                static_cast<int64_t>(still.size() - 1), "does not end with the sequence end code");
  std::vector<uint8_t> trailing = still;
  trailing.push_back(0xFF);
  ExpectRefused(trailing, "sequence end code", static_cast<int64_t>(still.size() - 4),
                "the sequence ends before the end of the stream");

  // Cut in the middle of the slices, with an end code put after the cut: the rows after it are
  // not decoded.
  const size_t cut = StartCode(0x10) + 100;  // inside the slice of macroblock row 15
  std::vector<uint8_t> short_still(still.begin(), still.begin() + static_cast<long>(cut));
  short_still.insert(short_still.end(), {0x00, 0x00, 0x01, 0xB7});
  ExpectRefused(short_still, "slice", static_cast<int64_t>(StartCode(0x10)),
                "of macroblock row 15 is not decoded");
}

TEST_F(BrokenStill, APictureTheSlicesDoNotCoverWholeIsRefused) {
  const std::vector<uint8_t>& still = Still();
  // Row 7's slice left out.
  std::vector<uint8_t> missing(still.begin(), still.begin() + static_cast<long>(StartCode(0x08)));
  missing.insert(missing.end(), still.begin() + static_cast<long>(StartCode(0x09)), still.end());
  ExpectRefused(missing, "slice", -1, "macroblock 0 of macroblock row 7 is not decoded");
  // Row 20's slice cut off after 200 bytes, the slices after it whole.
  std::vector<uint8_t> broken(still.begin(),
                              still.begin() + static_cast<long>(StartCode(0x15) + 200));
  broken.insert(broken.end(), still.begin() + static_cast<long>(StartCode(0x16)), still.end());
  ExpectRefused(broken, "slice", static_cast<int64_t>(StartCode(0x15)),
                "of macroblock row 20 is not decoded");
  // No slices at all.
  std::vector<uint8_t> empty(still.begin(), still.begin() + static_cast<long>(StartCode(0x01)));
  empty.insert(empty.end(), {0x00, 0x00, 0x01, 0xB7});
  EXPECT_FALSE(DecodeStill(empty));
}

}  // namespace
}  // namespace qv
