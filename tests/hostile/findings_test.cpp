// What the fuzzers found, each kept as a test of the behaviour that replaced the fault.
// (The inputs themselves stay in the fuzz corpora, which FuzzCorpus.<target> replays.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formatswitch/parameter_file.h"
#include "formatswitch/still_encoder.h"
#include "formatswitch/ycbcr_picture.h"
#include "platform/file.h"
#include "platform/ini_profile.h"
#include "tests/support/still_referee.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"
#include "workfiles/parameter_files.h"

namespace qv {
namespace {

// The still encoder's rate search samples every sixth macroblock row (from the third, later
// from the fourth), so a picture of fewer rows gave it no rows and it divided by zero.
TEST(FuzzFindings, TheStillEncoderTakesPicturesOfOneToThreeMacroblockRows) {
  using namespace formatswitch;
  testing::TempDir dir;
  for (auto [width, height, progressive] :
       {std::tuple{16, 16, true}, std::tuple{48, 32, false}, std::tuple{32, 48, true}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    StillSettings settings;
    Result<EncoderParameters> parsed = ParseParameterFile(kPalParContent);
    ASSERT_TRUE(parsed) << parsed.error().text;
    settings.parameters = *parsed;
    EncoderParameters& p = settings.parameters;
    p.horizontal_size = p.display_horizontal_size = width;
    p.vertical_size = p.display_vertical_size = height;
    p.progressive_sequence = p.progressive_frame = p.frame_pred_frame_dct[0] = progressive;
    Result<void> checked = CheckEncoderParameters(p);
    ASSERT_TRUE(checked) << checked.error().text;
    Bitmap bitmap = testing::MakePicture(testing::PictureKind::kPhoto, width, height, 9);
    YCbCrPicture picture = ConvertToYCbCr(bitmap, p.matrix_coefficients, progressive);
    for (int64_t budget : {30592, 40}) {
      std::vector<uint8_t> stream = EncodeStill(picture, settings, budget);
      std::string path = dir.File("small.m2v");
      WriteWholeFile(path, stream);
      Result<testing::DecodedStill> decoded =
          testing::DecodeWithFfmpeg(path, width, height, dir.path());
      EXPECT_TRUE(decoded) << decoded.error().text;
    }
  }
}

// A key written after a last line that ends in CR without LF was joined to that line, so the
// value typed into the window was lost without a word; the CR LF is completed instead.
TEST(FuzzFindings, IniKeysWrittenAfterALastLineWithoutItsLineFeed) {
  const std::string text = "[Http Manual cfg]\r\nother=1\r";
  std::string written = WriteProfileString(text, "Http Manual cfg", "httpManualAddr", "http://x/");
  EXPECT_EQ(written, "[Http Manual cfg]\r\nother=1\r\nhttpManualAddr=http://x/\r\n");
  EXPECT_EQ(ReadProfileString(written, "Http Manual cfg", "httpManualAddr"), "http://x/");
  EXPECT_EQ(ReadProfileString(written, "Http Manual cfg", "other"), "1");

  written = WriteProfileString(text, "Http Auto cfg", "httpAutoAddr", "http://y/");
  EXPECT_EQ(written,
            "[Http Manual cfg]\r\nother=1\r\n\r\n[Http Auto cfg]\r\nhttpAutoAddr=http://y/\r\n");
  EXPECT_EQ(ReadProfileString(written, "Http Manual cfg", "other"), "1");

  // A last line without any line end is ended with CR LF, as before.
  EXPECT_EQ(WriteProfileString("[S]\r\nk=v", "S", "n", "w"), "[S]\r\nk=v\r\nn=w\r\n");
}

}  // namespace
}  // namespace qv
