#pragma once

#include <string_view>

namespace qv {

// The still converter's encoder parameter files, written into the working directory as they
// stand: 3,056 bytes each, CR LF line ends, one value line per encoder parameter. The two
// differ only in the title, vertical_size, frame_rate_code, video_format, matrix_coefficients
// and display_vertical_size lines.
inline constexpr std::string_view kPalParName = "PAL.par";
inline constexpr std::string_view kNtscParName = "NTSC.par";

extern const std::string_view kPalParContent;
extern const std::string_view kNtscParContent;

}  // namespace qv
