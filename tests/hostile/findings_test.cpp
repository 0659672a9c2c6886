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

// The still encoder's rate search sampled every sixth macroblock row from the third on, so a
// picture of one or two macroblock rows gave it no rows and it divided by zero.
TEST(FuzzFindings, TheStillEncoderTakesPicturesOfOneAndTwoMacroblockRows) {
  using namespace formatswitch;
  testing::TempDir dir;
  for (auto [width, height, progressive] : {std::tuple{16, 16, true}, std::tuple{48, 32, false}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    StillSettings settings;
    std::string error;
    ASSERT_TRUE(ParseParameterFile(kPalParContent, settings.parameters, error)) << error;
    EncoderParameters& p = settings.parameters;
    p.horizontal_size = p.display_horizontal_size = width;
    p.vertical_size = p.display_vertical_size = height;
    p.progressive_sequence = p.progressive_frame = p.frame_pred_frame_dct[0] = progressive;
    ASSERT_EQ(CheckEncoderParameters(p), "");
    Bitmap bitmap = testing::MakePicture(testing::PictureKind::kPhoto, width, height, 9);
    YCbCrPicture picture = ConvertToYCbCr(bitmap, p.matrix_coefficients, progressive);
    for (int64_t budget : {30592, 40}) {
      std::vector<uint8_t> stream = EncodeStill(picture, settings, budget);
      std::string path = dir.File("small.m2v");
      WriteWholeFile(path, stream);
      testing::DecodedStill decoded = testing::DecodeWithFfmpeg(path, width, height, dir.path());
      EXPECT_TRUE(decoded.ok) << decoded.problem;
    }
  }
}

}  // namespace
}  // namespace qv
