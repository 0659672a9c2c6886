#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "formatswitch/ycbcr_picture.h"

namespace qv::formatswitch {

// The transform coefficients of one macroblock: the luma blocks both as frame DCT and as
// field DCT (dct_type is chosen per rate setting), then Cb and Cr.
struct MacroblockCoefficients {
  // Coefficients in sixteenths, which keeps the picture's transform in half the memory, in
  // coefficient order (DC first).
  int16_t luma[2][4][64];  // [dct_type][block]
  int16_t chroma[2][64];
  float luma_peak[2][4];  // the largest squared AC coefficient of each block
  float chroma_peak[2];
  float luma_energy[2][4];  // the sum of squared AC coefficients of each block
  float chroma_energy[2];
  uint8_t dct_types;  // the dct_type values to try: bit 0 frame, bit 1 field
};

// Transforms every macroblock of `picture` (its size a multiple of 16 both ways), luma both
// ways unless `frame_dct_only`, and keeps each block's coefficients in the order of `scan`
// (raster positions in coefficient order).
std::vector<MacroblockCoefficients> TransformMacroblocks(const YCbCrPicture& picture,
                                                         bool frame_dct_only,
                                                         const std::array<uint8_t, 64>& scan);

}  // namespace qv::formatswitch
