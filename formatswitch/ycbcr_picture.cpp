#include "formatswitch/ycbcr_picture.h"

#include <algorithm>
#include <cmath>

#include "formatswitch/parallel_rows.h"

namespace qv::formatswitch {

namespace {

// Rounds a sample. Studio-range values (16 to 235 for Y', 16 to 240 for Cb and Cr) need no
// clamping: the weights of each matrix sum to one, and the filters average.
inline uint8_t Sample(float value) {
  return static_cast<uint8_t>(static_cast<int>(value + 0.5f));
}

}  // namespace

bool MatrixWeights(int matrix_coefficients, double& kr, double& kb) {
  switch (matrix_coefficients) {
    case 1:  // ITU-R BT.709
      kr = 0.2126;
      kb = 0.0722;
      return true;
    case 2:  // unspecified: taken as the 625/525-line one
    case 5:  // ITU-R BT.470-2 System B, G (BT.601, 625 lines)
    case 6:  // SMPTE 170M (BT.601, 525 lines)
      kr = 0.299;
      kb = 0.114;
      return true;
    case 4:  // FCC
      kr = 0.30;
      kb = 0.11;
      return true;
    case 7:  // SMPTE 240M
      kr = 0.212;
      kb = 0.087;
      return true;
    default:
      return false;
  }
}

YCbCrPicture ConvertToYCbCr(const Bitmap& bitmap, int matrix_coefficients, bool progressive) {
  double kr = 0.299, kb = 0.114;
  MatrixWeights(matrix_coefficients, kr, kb);
  const float wr = static_cast<float>(kr), wb = static_cast<float>(kb);
  const float wg = 1.0f - wr - wb;
  const float luma_scale = 219.0f / 255.0f;
  const float cb_scale = static_cast<float>(224.0 / 255.0 / (2 * (1 - kb)));
  const float cr_scale = static_cast<float>(224.0 / 255.0 / (2 * (1 - kr)));

  YCbCrPicture picture;
  const int w = bitmap.width, h = bitmap.height, cw = w / 2, ch = h / 2;
  picture.width = w;
  picture.height = h;
  picture.y.resize(static_cast<size_t>(w) * h);
  picture.cb.resize(static_cast<size_t>(cw) * ch);
  picture.cr.resize(static_cast<size_t>(cw) * ch);

  // The chroma rows from `first_row` to `end_row`, with the frame lines they need. Each
  // chroma row needs two frame lines and no line serves two rows (the fields' chroma rows
  // interleave), so every line is converted once, as it is needed.
  auto convert_rows = [&](int first_row, int end_row) {
    std::vector<float> cb_line(static_cast<size_t>(w)), cr_line(static_cast<size_t>(w));
    std::vector<float> blue(static_cast<size_t>(w)), green(blue.size()), red(blue.size());
    // One frame line: its luma, and its colour differences filtered horizontally onto the
    // even columns.
    auto convert_line = [&](int y, float* cb_out, float* cr_out) {
      const uint8_t* row = bitmap.Row(y);
      for (int x = 0; x < w; ++x) {  // blue, green, red triples into three rows
        blue[x] = row[3 * x];
        green[x] = row[3 * x + 1];
        red[x] = row[3 * x + 2];
      }
      // Plain pointers to separate arrays, so the compiler can work on several pixels at once.
      uint8_t* __restrict luma = &picture.y[static_cast<size_t>(y) * w];
      const float* __restrict r = red.data();
      const float* __restrict g = green.data();
      const float* __restrict b = blue.data();
      float* __restrict cb = cb_line.data();
      float* __restrict cr = cr_line.data();
      for (int x = 0; x < w; ++x) {
        float e = wr * r[x] + wg * g[x] + wb * b[x];
        luma[x] = Sample(16.0f + luma_scale * e);
        cb[x] = cb_scale * (b[x] - e);
        cr[x] = cr_scale * (r[x] - e);
      }
      // The first column has no left neighbour: the edge sample stands in for it.
      cb_out[0] = 0.25f * (3 * cb[0] + cb[1]);
      cr_out[0] = 0.25f * (3 * cr[0] + cr[1]);
      for (int cx = 1; cx < cw; ++cx) {
        cb_out[cx] = 0.25f * (cb[2 * cx - 1] + 2 * cb[2 * cx] + cb[2 * cx + 1]);
        cr_out[cx] = 0.25f * (cr[2 * cx - 1] + 2 * cr[2 * cx] + cr[2 * cx + 1]);
      }
    };

    std::vector<float> cb_a(static_cast<size_t>(cw)), cr_a(cb_a.size());
    std::vector<float> cb_b(cb_a.size()), cr_b(cb_a.size());
    for (int cy = first_row; cy < end_row; ++cy) {
      int upper, lower;
      float upper_weight;
      if (progressive) {
        upper = 2 * cy;
        lower = 2 * cy + 1;
        upper_weight = 0.5f;
      } else if (cy % 2 == 0) {  // top field: between its lines 4k and 4k + 2, nearer the first
        upper = 2 * cy;
        lower = std::min(2 * cy + 2, h - 2);
        upper_weight = 0.75f;
      } else {  // bottom field: between its lines 4k + 1 and 4k + 3, nearer the second
        upper = 2 * cy - 1;
        lower = std::min(2 * cy + 1, h - 1);
        upper_weight = 0.25f;
      }
      convert_line(upper, cb_a.data(), cr_a.data());
      convert_line(lower, cb_b.data(), cr_b.data());
      const float lower_weight = 1 - upper_weight;
      uint8_t* cb_out = &picture.cb[static_cast<size_t>(cy) * cw];
      uint8_t* cr_out = &picture.cr[static_cast<size_t>(cy) * cw];
      for (int cx = 0; cx < cw; ++cx) {
        cb_out[cx] = Sample(128.0f + upper_weight * cb_a[cx] + lower_weight * cb_b[cx]);
        cr_out[cx] = Sample(128.0f + upper_weight * cr_a[cx] + lower_weight * cr_b[cx]);
      }
    }
  };
  // Two parts side by side, split on a pair of chroma rows so that no frame line belongs to
  // both.
  const int split = ch / 4 * 2;
  ForEachIndependent({0, 1}, [&](int part) {
    if (part == 0)
      convert_rows(0, split);
    else
      convert_rows(split, ch);
  });
  return picture;
}

}  // namespace qv::formatswitch
