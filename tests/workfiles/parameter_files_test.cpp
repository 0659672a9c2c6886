#include "workfiles/parameter_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formatswitch/parameter_file.h"

namespace qv {
namespace {

std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string_view::npos; start = end + 2) {
    lines.emplace_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last CR LF";
  return lines;
}

TEST(ParameterFiles, SizeLayoutAndTheLinesThatDiffer) {
  EXPECT_EQ(kPalParContent.size(), 3056u);
  EXPECT_EQ(kNtscParContent.size(), 3056u);
  for (std::string_view text : {kPalParContent, kNtscParContent}) {
    std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 56u);  // 55 lines, then the empty line the file ends with
    EXPECT_TRUE(lines[55].empty());
    for (size_t i = 1; i < 55; ++i) {  // every value line carries a comment naming it
      EXPECT_NE(lines[i].find("  /* "), std::string::npos) << i + 1;
      EXPECT_EQ(lines[i].substr(lines[i].size() - 3), " */") << i + 1;
    }
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'),
              std::count(text.begin(), text.end(), '\r'));
  }
  std::vector<std::string> pal = Lines(kPalParContent), ntsc = Lines(kNtscParContent);
  std::vector<int> differing;
  for (size_t i = 0; i < pal.size(); ++i) {
    if (pal[i] != ntsc[i]) differing.push_back(static_cast<int>(i + 1));
  }
  EXPECT_EQ(differing, (std::vector<int>{1, 16, 18, 27, 30, 32}));
  EXPECT_EQ(pal[0], "MPEG-2 Test Sequence, 25 frames/sec");
  EXPECT_EQ(ntsc[0], "MPEG-2 Test Sequence, 30 frames/sec");
}

TEST(ParameterFiles, HoldTheValuesTheStillsAreEncodedWith) {
  using formatswitch::EncoderParameters;
  for (bool pal : {true, false}) {
    Result<EncoderParameters> parsed =
        formatswitch::ParseParameterFile(pal ? kPalParContent : kNtscParContent);
    ASSERT_TRUE(parsed) << parsed.error().text;
    const EncoderParameters& p = *parsed;
    Result<void> checked = formatswitch::CheckEncoderParameters(p);
    EXPECT_TRUE(checked) << checked.error().text;
    EXPECT_EQ(p.source_name, "test0");
    EXPECT_EQ(p.reconstructed_name, "q%d");
    EXPECT_EQ(p.intra_matrix_file, "-");
    EXPECT_EQ(p.non_intra_matrix_file, "-");
    EXPECT_EQ(p.statistics_file, "stat.out");
    EXPECT_EQ(p.input_format, 2);
    EXPECT_EQ(p.frame_count, 1);
    EXPECT_EQ(p.first_frame, 0);
    EXPECT_EQ(p.time_code.hours + p.time_code.minutes + p.time_code.seconds + p.time_code.pictures,
              0);
    EXPECT_EQ(p.frames_in_gop, 1);
    EXPECT_EQ(p.ip_distance, 1);
    EXPECT_EQ(p.mpeg1, 0);
    EXPECT_EQ(p.field_pictures, 0);
    EXPECT_EQ(p.horizontal_size, 720);
    EXPECT_EQ(p.vertical_size, pal ? 576 : 480);
    EXPECT_EQ(p.aspect_ratio_information, 2);
    EXPECT_EQ(p.frame_rate_code, pal ? 3 : 5);
    EXPECT_EQ(p.bit_rate, 5000000.0);
    EXPECT_EQ(p.vbv_buffer_size, 112);
    EXPECT_EQ(p.low_delay, 0);
    EXPECT_EQ(p.constrained_parameters_flag, 0);
    EXPECT_EQ(p.profile, 4);
    EXPECT_EQ(p.level, 8);
    EXPECT_EQ(p.progressive_sequence, 0);
    EXPECT_EQ(p.chroma_format, 1);
    EXPECT_EQ(p.video_format, pal ? 1 : 2);
    EXPECT_EQ(p.colour_primaries, 5);
    EXPECT_EQ(p.transfer_characteristics, 5);
    EXPECT_EQ(p.matrix_coefficients, pal ? 5 : 4);
    EXPECT_EQ(p.display_horizontal_size, 720);
    EXPECT_EQ(p.display_vertical_size, pal ? 576 : 480);
    EXPECT_EQ(p.intra_dc_precision, 0);
    EXPECT_EQ(p.top_field_first, 1);
    EXPECT_EQ(p.frame_pred_frame_dct, (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(p.concealment_motion_vectors, (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(p.q_scale_type, (std::array<int, 3>{1, 1, 1}));
    EXPECT_EQ(p.intra_vlc_format, (std::array<int, 3>{1, 0, 0}));
    EXPECT_EQ(p.alternate_scan, (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(p.repeat_first_field, 0);
    EXPECT_EQ(p.progressive_frame, 0);
    EXPECT_EQ(p.intra_slice_refresh, 0);
    for (double value : p.rate_control)
      EXPECT_EQ(value, 0.0);
    const int motion[5][4] = {
        {2, 2, 11, 11}, {1, 1, 3, 3}, {1, 1, 7, 7}, {1, 1, 7, 7}, {1, 1, 3, 3}};
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(p.motion[i].horizontal_f_code, motion[i][0]);
      EXPECT_EQ(p.motion[i].vertical_f_code, motion[i][1]);
      EXPECT_EQ(p.motion[i].search_width, motion[i][2]);
      EXPECT_EQ(p.motion[i].search_height, motion[i][3]);
    }
  }
}

}  // namespace
}  // namespace qv
