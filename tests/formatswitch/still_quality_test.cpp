#include <gtest/gtest.h>

#include <cmath>

#include "formatswitch/still_encoder.h"
#include "formatswitch/ycbcr_picture.h"
#include "tests/formatswitch/still_checks.h"

namespace qv::formatswitch {
namespace {

using testing::PictureKind;

std::string WriteStill(const testing::TempDir& dir, const std::vector<uint8_t>& stream) {
  std::string path = dir.File("still.m2v");
  WriteWholeFile(path, stream);
  return path;
}

// Every kind of picture, both sizes: one encoding fits, both decoders agree, quality holds.
TEST(StillQuality, EveryKindOfPictureDecodesCleanlyWithinTheBudgetAboveItsFloor) {
  testing::TempDir dir;
  int with_quantiser_changes = 0;
  for (bool pal : {true, false}) {
    const int height = pal ? 576 : 480;
    StillSettings settings = testing::ShippedStillSettings(pal);
    double kr, kb;
    MatrixWeights(settings.parameters.matrix_coefficients, kr, kb);
    for (PictureKind kind : testing::AllPictureKinds()) {
      SCOPED_TRACE(std::string(testing::PictureKindName(kind)) + (pal ? " 720x576" : " 720x480"));
      Bitmap bitmap = testing::MakePicture(kind, 720, height, 7);
      YCbCrPicture picture = ConvertToYCbCr(bitmap, settings.parameters.matrix_coefficients, false);
      StillStatistics statistics;
      std::vector<uint8_t> stream = EncodeStill(picture, settings, 30592, &statistics);
      EXPECT_LE(stream.size(), 30592u);
      EXPECT_GT(stream.size(), kind == PictureKind::kNoise ? 20000u : 1000u);
      testing::StillQuality quality = testing::CheckStill(WriteStill(dir, stream), 720, height,
                                                          testing::StudioLuma(bitmap, kr, kb));
      EXPECT_GT(quality.ffmpeg_psnr, testing::PsnrFloor(kind));
      EXPECT_GT(quality.mpeg2dec_psnr, testing::PsnrFloor(kind));
      // The budget is used: a still well under it could have been better.
      if (statistics.finest_scale_code > 1) {
        EXPECT_GT(stream.size(), 30592u * 95 / 100);
      }
      with_quantiser_changes += statistics.finest_scale_code != statistics.coarsest_scale_code;
    }
  }
  // Those that fill the budget above the finest setting change quantiser_scale_code from
  // macroblock to macroblock (macroblock_quant; eight of the eighteen when this was written),
  // so the decoders above have read that syntax and given the quality with it.
  EXPECT_GE(with_quantiser_changes, 6);
}

// Values the stills do not use by default but the parameter file may name: each changes the
// stream's syntax, and both decoders must still read it.
TEST(StillQuality, OtherParameterValuesAreHonouredInADecodableStream) {
  testing::TempDir dir;
  Bitmap bitmap = testing::MakePicture(PictureKind::kPhoto, 720, 576, 3);
  std::vector<uint8_t> luma = testing::StudioLuma(bitmap);
  struct Variant {
    const char* name;
    void (*apply)(EncoderParameters&);
  };
  const Variant variants[] = {
      {"intra_vlc_format 0", [](EncoderParameters& p) { p.intra_vlc_format[0] = 0; }},
      {"alternate_scan 1", [](EncoderParameters& p) { p.alternate_scan[0] = 1; }},
      {"q_scale_type 0", [](EncoderParameters& p) { p.q_scale_type[0] = 0; }},
      {"frame_pred_frame_dct 1", [](EncoderParameters& p) { p.frame_pred_frame_dct[0] = 1; }},
      {"intra_dc_precision 2", [](EncoderParameters& p) { p.intra_dc_precision = 2; }},
      {"concealment_motion_vectors 1",
       [](EncoderParameters& p) { p.concealment_motion_vectors[0] = 1; }},
      {"matrix_coefficients 1", [](EncoderParameters& p) { p.matrix_coefficients = 1; }},
      {"progressive frame",
       [](EncoderParameters& p) {
         p.progressive_sequence = 1;
         p.progressive_frame = 1;
         p.frame_pred_frame_dct[0] = 1;
       }},
  };
  for (const Variant& variant : variants) {
    SCOPED_TRACE(variant.name);
    StillSettings settings = testing::ShippedStillSettings(true);
    variant.apply(settings.parameters);
    Result<void> checked = CheckEncoderParameters(settings.parameters);
    ASSERT_TRUE(checked) << checked.error().text;
    double kr, kb;
    ASSERT_TRUE(MatrixWeights(settings.parameters.matrix_coefficients, kr, kb));
    YCbCrPicture picture = ConvertToYCbCr(bitmap, settings.parameters.matrix_coefficients,
                                          settings.parameters.progressive_frame != 0);
    std::vector<uint8_t> stream = EncodeStill(picture, settings, 30592);
    testing::StillQuality quality =
        testing::CheckStill(WriteStill(dir, stream), 720, 576, testing::StudioLuma(bitmap, kr, kb));
    EXPECT_GT(quality.ffmpeg_psnr, testing::PsnrFloor(PictureKind::kPhoto) - 1.0);
    EXPECT_GT(quality.mpeg2dec_psnr, testing::PsnrFloor(PictureKind::kPhoto) - 1.0);
  }
  // A loaded intra matrix is used for quantising as the decoders use it.
  StillSettings settings = testing::ShippedStillSettings(true);
  QuantiserMatrix flat;
  flat.fill(16);
  flat[0] = 8;
  settings.intra_matrix = flat;
  settings.non_intra_matrix = flat;
  YCbCrPicture picture = ConvertToYCbCr(bitmap, 5, false);
  testing::StillQuality quality =
      testing::CheckStill(WriteStill(dir, EncodeStill(picture, settings, 30592)), 720, 576, luma);
  EXPECT_GT(quality.ffmpeg_psnr, testing::PsnrFloor(PictureKind::kPhoto) - 1.0);
}

TEST(YCbCr, MatricesAndInterlacedChromaSiting) {
  Bitmap bitmap = MakeBitmap24(4, 8);
  // Top field lines (even) red, bottom field lines (odd) blue.
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 4; ++x) {
      uint8_t* pixel = bitmap.Row(y) + 3 * x;
      pixel[0] = y % 2 ? 255 : 0;
      pixel[1] = 0;
      pixel[2] = y % 2 ? 0 : 255;
    }
  }
  YCbCrPicture interlaced = ConvertToYCbCr(bitmap, 5, false);
  EXPECT_EQ(interlaced.y[0], 16 + std::lround(0.299 * 219));
  EXPECT_EQ(interlaced.y[4], 16 + std::lround(0.114 * 219));
  // Each field's chroma comes from that field alone: rows 0, 2 red; rows 1, 3 blue.
  EXPECT_GT(interlaced.cr[0], 200);
  EXPECT_GT(interlaced.cb[2], 200);
  EXPECT_GT(interlaced.cr[4], 200);
  EXPECT_GT(interlaced.cb[6], 200);
  // A progressive frame mixes neighbouring lines.
  YCbCrPicture progressive = ConvertToYCbCr(bitmap, 5, true);
  EXPECT_NEAR(progressive.cr[0], 128 + (interlaced.cr[0] - 128) / 2 + (interlaced.cr[2] - 128) / 2,
              3);
  // BT.709 weighs red less than BT.601.
  EXPECT_LT(ConvertToYCbCr(bitmap, 1, false).y[0], interlaced.y[0]);
  double kr, kb;
  EXPECT_FALSE(MatrixWeights(0, kr, kb));
  EXPECT_FALSE(MatrixWeights(3, kr, kb));
  EXPECT_FALSE(MatrixWeights(8, kr, kb));
}

}  // namespace
}  // namespace qv::formatswitch
