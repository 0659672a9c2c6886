#pragma once

#include <string>
#include <vector>

#include "platform/bitmap.h"

namespace qv::formatswitch {

// A 4:2:0 Y'CbCr frame with 8-bit studio-range samples: Y' width x height, Cb and Cr each
// half as wide and half as high.
struct YCbCrPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> y;
  std::vector<uint8_t> cb;
  std::vector<uint8_t> cr;
};

// The luma and colour-difference weights (Kr, Kb) of a matrix_coefficients code; false for a
// code that names no matrix (0, 3, 8 and above).
bool MatrixWeights(int matrix_coefficients, double& kr, double& kb);

// Converts a 24-bit bitmap with the matrix that `matrix_coefficients` names. The colour
// difference samples are sited as ISO/IEC 13818-2 places them in 4:2:0: horizontally on the
// even luma columns; vertically, for an interlaced frame, each field's chroma lies between
// that field's own lines (a quarter and three quarters of the way), taken from that field
// only; for a progressive frame, midway between frame lines. Width and height must be even
// (a multiple of 4 for an interlaced frame).
YCbCrPicture ConvertToYCbCr(const Bitmap& bitmap, int matrix_coefficients, bool progressive);

}  // namespace qv::formatswitch
