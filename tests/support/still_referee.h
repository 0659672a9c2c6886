#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/result.h"
#include "tests/support/run_program.h"

// Has MPEG-2 stills decoded by two independent decoders: ffmpeg (libavcodec) and mpeg2dec
// (libmpeg2).
namespace qv::testing {

struct DecodedStill {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> luma;
};

// Decodes with `ffmpeg -v error` into raw 4:2:0; any message on its error output is a failure,
// and so is anything but exactly one picture of width x height.
Result<DecodedStill> DecodeWithFfmpeg(const std::string& still, int width, int height,
                                      const std::string& scratch_directory);

// Decodes with `mpeg2dec -o pgm` in `scratch_directory` (which must be empty); anything but
// exactly one picture of width x height, or any warning, is a failure.
Result<DecodedStill> DecodeWithMpeg2dec(const std::string& still, int width, int height,
                                        const std::string& scratch_directory);

}  // namespace qv::testing
