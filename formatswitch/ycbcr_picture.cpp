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

namespace {

// The constants of the conversion with one matrix.
struct Weights {
  float wr, wg, wb;          // of red, green and blue in E'Y
  float luma_scale;          // from E'Y (0 to 255) to the 219 steps of Y'
  float cb_scale, cr_scale;  // from E'B - E'Y and E'R - E'Y to the 224 steps of Cb and Cr
};

Weights WeightsOf(int matrix_coefficients) {
  double kr = 0.299, kb = 0.114;
  MatrixWeights(matrix_coefficients, kr, kb);
  Weights weights;
  weights.wr = static_cast<float>(kr);
  weights.wb = static_cast<float>(kb);
  weights.wg = 1.0f - weights.wr - weights.wb;
  weights.luma_scale = 219.0f / 255.0f;
  weights.cb_scale = static_cast<float>(224.0 / 255.0 / (2 * (1 - kb)));
  weights.cr_scale = static_cast<float>(224.0 / 255.0 / (2 * (1 - kr)));
  return weights;
}

// The working rows of one part of the conversion: a frame line's blue, green and red, and its
// colour differences before they are filtered.
struct LineBuffers {
  explicit LineBuffers(int width)
      : blue(static_cast<size_t>(width)),
        green(blue.size()),
        red(blue.size()),
        cb(blue.size()),
        cr(blue.size()) {}
  std::vector<float> blue, green, red, cb, cr;
};

// Frame line `y`: its luma into the picture, and its colour differences filtered horizontally
// onto the even columns into `cb_out` and `cr_out`.
void ConvertLine(const Bitmap& bitmap, int y, const Weights& weights, LineBuffers& lines,
                 YCbCrPicture& picture, float* cb_out, float* cr_out) {
  const int w = bitmap.width;
  const uint8_t* row = bitmap.Row(y);
  for (int x = 0; x < w; ++x) {  // blue, green, red triples into three rows
    lines.blue[x] = row[3 * x];
    lines.green[x] = row[3 * x + 1];
    lines.red[x] = row[3 * x + 2];
  }
  // Plain pointers to separate arrays, so the compiler can work on several pixels at once.
  const float wr = weights.wr, wg = weights.wg, wb = weights.wb;
  const float luma_scale = weights.luma_scale, cb_scale = weights.cb_scale,
              cr_scale = weights.cr_scale;
  uint8_t* __restrict luma = &picture.y[static_cast<size_t>(y) * w];
  const float* __restrict r = lines.red.data();
  const float* __restrict g = lines.green.data();
  const float* __restrict b = lines.blue.data();
  float* __restrict cb = lines.cb.data();
  float* __restrict cr = lines.cr.data();
  for (int x = 0; x < w; ++x) {
    float e = wr * r[x] + wg * g[x] + wb * b[x];
    luma[x] = Sample(16.0f + luma_scale * e);
    cb[x] = cb_scale * (b[x] - e);
    cr[x] = cr_scale * (r[x] - e);
  }
  // The first column has no left neighbour: the edge sample stands in for it.
  const int cw = w / 2;
  cb_out[0] = 0.25f * (3 * cb[0] + cb[1]);
  cr_out[0] = 0.25f * (3 * cr[0] + cr[1]);
  for (int cx = 1; cx < cw; ++cx) {
    cb_out[cx] = 0.25f * (cb[2 * cx - 1] + 2 * cb[2 * cx] + cb[2 * cx + 1]);
    cr_out[cx] = 0.25f * (cr[2 * cx - 1] + 2 * cr[2 * cx] + cr[2 * cx + 1]);
  }
}

// The two frame lines chroma row `cy` is made from, and the weight of the upper one.
struct ChromaSiting {
  int upper, lower;
  float upper_weight;
};

ChromaSiting SitingOf(int cy, int h, bool progressive) {
  if (progressive) return {2 * cy, 2 * cy + 1, 0.5f};
  if (cy % 2 == 0) {  // top field: between its lines 4k and 4k + 2, nearer the first
    return {2 * cy, std::min(2 * cy + 2, h - 2), 0.75f};
  }
  // bottom field: between its lines 4k + 1 and 4k + 3, nearer the second
  return {2 * cy - 1, std::min(2 * cy + 1, h - 1), 0.25f};
}

// The chroma rows from `first_row` to `end_row`, with the frame lines they need. Each chroma
// row needs two frame lines and no line serves two rows (the fields' chroma rows interleave),
// so every line is converted once, as it is needed.
void ConvertRows(const Bitmap& bitmap, const Weights& weights, bool progressive, int first_row,
                 int end_row, YCbCrPicture& picture) {
  const int w = bitmap.width, h = bitmap.height, cw = w / 2;
  LineBuffers lines(w);
  std::vector<float> cb_a(static_cast<size_t>(cw)), cr_a(cb_a.size());
  std::vector<float> cb_b(cb_a.size()), cr_b(cb_a.size());
  for (int cy = first_row; cy < end_row; ++cy) {
    const ChromaSiting siting = SitingOf(cy, h, progressive);
    ConvertLine(bitmap, siting.upper, weights, lines, picture, cb_a.data(), cr_a.data());
    ConvertLine(bitmap, siting.lower, weights, lines, picture, cb_b.data(), cr_b.data());
    const float upper_weight = siting.upper_weight, lower_weight = 1 - upper_weight;
    uint8_t* cb_out = &picture.cb[static_cast<size_t>(cy) * cw];
    uint8_t* cr_out = &picture.cr[static_cast<size_t>(cy) * cw];
    for (int cx = 0; cx < cw; ++cx) {
      cb_out[cx] = Sample(128.0f + upper_weight * cb_a[cx] + lower_weight * cb_b[cx]);
      cr_out[cx] = Sample(128.0f + upper_weight * cr_a[cx] + lower_weight * cr_b[cx]);
    }
  }
}

}  // namespace

YCbCrPicture ConvertToYCbCr(const Bitmap& bitmap, int matrix_coefficients, bool progressive) {
  const Weights weights = WeightsOf(matrix_coefficients);
  YCbCrPicture picture;
  const int w = bitmap.width, h = bitmap.height, cw = w / 2, ch = h / 2;
  picture.width = w;
  picture.height = h;
  picture.y.resize(static_cast<size_t>(w) * h);
  picture.cb.resize(static_cast<size_t>(cw) * ch);
  picture.cr.resize(static_cast<size_t>(cw) * ch);
  // Two parts side by side, split on a pair of chroma rows so that no frame line belongs to
  // both.
  const int split = ch / 4 * 2;
  ForEachIndependent({0, 1}, [&](int part) {
    if (part == 0)
      ConvertRows(bitmap, weights, progressive, 0, split, picture);
    else
      ConvertRows(bitmap, weights, progressive, split, ch, picture);
  });
  return picture;
}

}  // namespace qv::formatswitch
