#include "formatswitch/macroblock_transform.h"

#include <algorithm>
#include <numeric>

#include "formatswitch/forward_dct.h"
#include "formatswitch/parallel_rows.h"

namespace qv::formatswitch {

namespace {

// Copies an 8 x 8 block from a plane: every line (`line_step` 1) or every other (2).
void LoadBlock(const std::vector<uint8_t>& plane, int stride, int x, int y, int line_step,
               float out[64]) {
  for (int row = 0; row < 8; ++row) {
    const uint8_t* line = &plane[static_cast<size_t>(y + row * line_step) * stride + x];
    for (int col = 0; col < 8; ++col)
      out[8 * row + col] = line[col];
  }
}

void ToSixteenths(const float coefficients[64], const std::array<uint8_t, 64>& scan,
                  int16_t out[64]) {
  // Samples of 0 to 255 give coefficients of at most 8 x 255 in magnitude, so sixteen times
  // any of them fits 16 bits. Rounding by an offset and truncation keeps the loop simple
  // enough to run on several values at once.
  for (int i = 0; i < 64; ++i) {
    float value = coefficients[scan[static_cast<size_t>(i)]];
    out[i] = static_cast<int16_t>(static_cast<int>(value * 16.0f + 32768.5f) - 32768);
  }
}

// The largest squared AC coefficient and the sum of them, from the stored sixteenths.
void MeasureAc(const int16_t block[64], float& peak, float& energy) {
  int32_t largest = 0;
  int64_t sum = 0;
  for (int i = 1; i < 64; ++i) {
    int32_t square = block[i] * block[i];
    largest = std::max(largest, square);
    sum += square;
  }
  peak = static_cast<float>(largest) / 256.0f;
  energy = static_cast<float>(sum) / 256.0f;
}

}  // namespace

std::vector<MacroblockCoefficients> TransformMacroblocks(const YCbCrPicture& picture,
                                                         bool frame_dct_only,
                                                         const std::array<uint8_t, 64>& scan) {
  const int mb_width = picture.width / 16, mb_height = picture.height / 16;
  std::vector<MacroblockCoefficients> macroblocks(static_cast<size_t>(mb_width) * mb_height);
  std::vector<int> rows(static_cast<size_t>(mb_height));
  std::iota(rows.begin(), rows.end(), 0);
  ForEachIndependent(rows, [&](int my) {
    float samples[64], coefficients[64];
    for (int mx = 0; mx < mb_width; ++mx) {
      MacroblockCoefficients& mb = macroblocks[static_cast<size_t>(my) * mb_width + mx];
      const int x = 16 * mx, y = 16 * my;
      // Judging dct_type from line differences alone loses on smooth pictures: both
      // transforms are kept and each setting codes both.
      mb.dct_types = frame_dct_only ? 1 : 3;
      for (int field = 0; field < 2; ++field) {
        if (!(mb.dct_types & (1 << field))) continue;
        for (int b = 0; b < 4; ++b) {
          // Frame DCT: blocks are the quarters. Field DCT: the upper two hold the top field's
          // lines, the lower two the bottom field's.
          int bx = x + 8 * (b & 1), by = field ? y + (b >> 1) : y + 8 * (b >> 1);
          LoadBlock(picture.y, picture.width, bx, by, field ? 2 : 1, samples);
          ForwardDct(samples, coefficients);
          ToSixteenths(coefficients, scan, mb.luma[field][b]);
          MeasureAc(mb.luma[field][b], mb.luma_peak[field][b], mb.luma_energy[field][b]);
        }
      }
      for (int c = 0; c < 2; ++c) {
        LoadBlock(c ? picture.cr : picture.cb, picture.width / 2, x / 2, y / 2, 1, samples);
        ForwardDct(samples, coefficients);
        ToSixteenths(coefficients, scan, mb.chroma[c]);
        MeasureAc(mb.chroma[c], mb.chroma_peak[c], mb.chroma_energy[c]);
      }
    }
  });
  return macroblocks;
}

}  // namespace qv::formatswitch
