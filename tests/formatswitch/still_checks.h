#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "formatswitch/still_encoder.h"
#include "platform/file.h"
#include "tests/support/still_referee.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"
#include "workfiles/parameter_files.h"

namespace qv::testing {

inline constexpr size_t kStillBudget = 30592;

// Luma PSNR floors for the synthetic pictures at the 30,592-byte budget: 1 dB under the
// lowest of the values measured with both decoders at 720 x 576 and 720 x 480 (photo 33.1,
// portrait 57.1, flat logo 67.5, text 20.3, gradient 54.5, noise 16.9, fine detail 16.8,
// interlaced 51.9, colour bars 65.0), so that a change which costs quality fails. Noise and
// fine detail cannot be coded well in so few bytes; the two decoders differ by up to 0.4 dB
// on the nearly lossless pictures.
inline double PsnrFloor(PictureKind kind) {
  switch (kind) {
    case PictureKind::kPhoto:
      return 32.0;
    case PictureKind::kPortrait:
      return 56.0;
    case PictureKind::kFlatLogo:
      return 66.4;
    case PictureKind::kText:
      return 19.3;
    case PictureKind::kGradient:
      return 53.5;
    case PictureKind::kNoise:
      return 15.9;
    case PictureKind::kFineDetail:
      return 15.8;
    case PictureKind::kInterlaced:
      return 50.9;
    case PictureKind::kColourBars:
      return 64.0;
  }
  return 0;
}

// The settings of the shipped PAL.par or NTSC.par, with the bit rate the converter gives the
// first encoding: the budget's bits at the frame rate.
inline formatswitch::StillSettings ShippedStillSettings(bool pal) {
  formatswitch::StillSettings settings;
  Result<formatswitch::EncoderParameters> parsed =
      formatswitch::ParseParameterFile(pal ? kPalParContent : kNtscParContent);
  EXPECT_TRUE(parsed) << parsed.error().text;
  if (parsed) settings.parameters = *parsed;
  settings.parameters.bit_rate = pal ? 6118400.0 : 7342080.0;
  return settings;
}

struct StillQuality {
  double ffmpeg_psnr = 0;
  double mpeg2dec_psnr = 0;
};

// Both decoders must take `still` without a word and give one picture of the size; the
// stream fits the budget and ends with the sequence end code; its luma is returned as PSNR
// against `source_luma`.
inline StillQuality CheckStill(const std::string& still, int width, int height,
                               const std::vector<uint8_t>& source_luma) {
  StillQuality quality;
  std::vector<uint8_t> bytes = ReadWholeFile(still);
  EXPECT_LE(bytes.size(), kStillBudget);
  EXPECT_GE(bytes.size(), 4u);
  if (bytes.size() >= 4) {
    EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 4, bytes.end()),
              (std::vector<uint8_t>{0x00, 0x00, 0x01, 0xB7}));
  }
  TempDir scratch;
  Result<DecodedStill> ffmpeg = DecodeWithFfmpeg(still, width, height, scratch.path());
  EXPECT_TRUE(ffmpeg) << ffmpeg.error().text;
  Result<DecodedStill> libmpeg2 = DecodeWithMpeg2dec(still, width, height, scratch.path());
  EXPECT_TRUE(libmpeg2) << libmpeg2.error().text;
  if (ffmpeg) quality.ffmpeg_psnr = LumaPsnr(ffmpeg->luma, source_luma);
  if (libmpeg2) quality.mpeg2dec_psnr = LumaPsnr(libmpeg2->luma, source_luma);
  // Two conforming decoders differ at most by IDCT rounding.
  if (ffmpeg && libmpeg2) {
    EXPECT_GT(LumaPsnr(ffmpeg->luma, libmpeg2->luma), 50.0);
  }
  return quality;
}

}  // namespace qv::testing
