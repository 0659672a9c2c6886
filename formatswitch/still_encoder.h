#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formatswitch/parameter_file.h"
#include "formatswitch/stream_headers.h"
#include "formatswitch/ycbcr_picture.h"

namespace qv::formatswitch {

struct StillSettings {
  EncoderParameters parameters;                     // checked with CheckEncoderParameters
  std::optional<QuantiserMatrix> intra_matrix;      // loaded from the intra matrix file
  std::optional<QuantiserMatrix> non_intra_matrix;  // loaded from the non-intra matrix file
};

struct StillStatistics {
  int slice_passes = 0;         // slices quantised during the rate search
  int finest_scale_code = 0;    // the smallest quantiser_scale_code used
  int coarsest_scale_code = 0;  // the largest
  bool dc_only = false;         // every AC coefficient had to be dropped to fit
};

// Encodes `picture` (the size of the parameters' horizontal_size x vertical_size) as an
// ISO/IEC 13818-2 stream holding one intra-coded frame picture: sequence header and
// extensions, a group of pictures header, the picture, one slice per macroblock row and the
// sequence end code. Bit rate field from parameters.bit_rate. The rate control searches the
// quantiser scale of each slice so the stream is at most `byte_budget` bytes while its
// squared error is as low as that allows; a budget below the smallest possible stream gives
// that smallest stream.
std::vector<uint8_t> EncodeStill(const YCbCrPicture& picture, const StillSettings& settings,
                                 int64_t byte_budget, StillStatistics* statistics = nullptr);

}  // namespace qv::formatswitch
