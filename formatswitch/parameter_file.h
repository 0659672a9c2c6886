#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace qv::formatswitch {

// A time code as the group of pictures header carries it.
struct TimeCode {
  int hours = 0;
  int minutes = 0;
  int seconds = 0;
  int pictures = 0;
};

// Motion search settings of one prediction direction: f_codes and search window.
struct MotionSettings {
  int horizontal_f_code = 1;
  int vertical_f_code = 1;
  int search_width = 0;
  int search_height = 0;
};

// Every value of an encoder parameter file, line by line. The per-picture-type triples are
// indexed I, P, B.
struct EncoderParameters {
  std::string title;                                   // line 1
  std::string source_name;                             // 2
  std::string reconstructed_name;                      // 3
  std::string intra_matrix_file;                       // 4, "-" for the default matrix
  std::string non_intra_matrix_file;                   // 5, "-" for the default matrix
  std::string statistics_file;                         // 6
  int input_format = 0;                                // 7
  int frame_count = 0;                                 // 8
  int first_frame = 0;                                 // 9
  TimeCode time_code;                                  // 10
  int frames_in_gop = 0;                               // 11, N
  int ip_distance = 0;                                 // 12, M
  int mpeg1 = 0;                                       // 13, ISO/IEC 11172-2 stream
  int field_pictures = 0;                              // 14, picture structure
  int horizontal_size = 0;                             // 15
  int vertical_size = 0;                               // 16
  int aspect_ratio_information = 0;                    // 17
  int frame_rate_code = 0;                             // 18
  double bit_rate = 0;                                 // 19, bits per second
  int vbv_buffer_size = 0;                             // 20, units of 16 kbit
  int low_delay = 0;                                   // 21
  int constrained_parameters_flag = 0;                 // 22
  int profile = 0;                                     // 23
  int level = 0;                                       // 24
  int progressive_sequence = 0;                        // 25
  int chroma_format = 0;                               // 26
  int video_format = 0;                                // 27
  int colour_primaries = 0;                            // 28
  int transfer_characteristics = 0;                    // 29
  int matrix_coefficients = 0;                         // 30
  int display_horizontal_size = 0;                     // 31
  int display_vertical_size = 0;                       // 32
  int intra_dc_precision = 0;                          // 33
  int top_field_first = 0;                             // 34
  std::array<int, 3> frame_pred_frame_dct = {};        // 35
  std::array<int, 3> concealment_motion_vectors = {};  // 36
  std::array<int, 3> q_scale_type = {};                // 37
  std::array<int, 3> intra_vlc_format = {};            // 38
  std::array<int, 3> alternate_scan = {};              // 39
  int repeat_first_field = 0;                          // 40
  int progressive_frame = 0;                           // 41
  int intra_slice_refresh = 0;                         // 42
  std::array<double, 8> rate_control = {};    // 43-50: r, avg_act, Xi, Xp, Xb, d0i, d0p, d0b
  std::array<MotionSettings, 5> motion = {};  // 51-55: P forward, B1 fwd/bwd, B2 fwd/bwd
};

// Parses the text of a parameter file (LF or CR LF line ends). Every line must start with
// its value or values; comments after them are ignored. Fails when a line is missing or a
// value is not what its line needs; the error names the line's parameter, with the line number
// (counted from 1) as its offset, or the line count, at offset -1, when lines are missing.
[[nodiscard]] Result<EncoderParameters> ParseParameterFile(std::string_view text);

// Checks the values against what the still encoder supports and the limits of ISO/IEC
// 13818-2 syntax. Fails with the first value found wrong: its parameter, and the line that
// holds it as the offset.
[[nodiscard]] Result<void> CheckEncoderParameters(const EncoderParameters& parameters);

}  // namespace qv::formatswitch
