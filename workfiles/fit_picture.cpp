#include "workfiles/fit_picture.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace qv {

namespace {

// One source pixel's share of a new pixel along one axis.
struct Tap {
  int32_t index;
  float weight;
};

// For each of `out` new pixels along an axis of `in` source pixels, the source pixels it is
// made of and their weights, which add up to 1.
std::vector<std::vector<Tap>> AxisTaps(int32_t in, int32_t out) {
  std::vector<std::vector<Tap>> taps(static_cast<size_t>(out));
  const double step = static_cast<double>(in) / out;  // source pixels per new pixel
  for (int32_t i = 0; i < out; ++i) {
    std::vector<Tap>& these = taps[static_cast<size_t>(i)];
    if (out < in) {
      // Area averaging: the new pixel covers [begin, end) of the source axis.
      const double begin = i * step, end = (i + 1) * step;
      for (auto j = static_cast<int32_t>(std::floor(begin)); j < in && j < end; ++j) {
        const double covered = std::min<double>(j + 1, end) - std::max<double>(j, begin);
        if (covered > 0) these.push_back({j, static_cast<float>(covered / step)});
      }
    } else {
      // Bilinear: the new pixel's centre between the two nearest source centres.
      const double at = std::clamp((i + 0.5) * step - 0.5, 0.0, in - 1.0);
      const auto j = static_cast<int32_t>(std::floor(at));
      const double fraction = at - j;
      these.push_back({j, static_cast<float>(1 - fraction)});
      if (fraction > 0 && j + 1 < in) these.push_back({j + 1, static_cast<float>(fraction)});
    }
  }
  return taps;
}

}  // namespace

Bitmap FitPicture(const Bitmap& source, int32_t width, int32_t height) {
  if (source.bits_per_pixel != 24 || source.width <= 0 || source.height <= 0 || width <= 0 ||
      height <= 0) {
    throw std::invalid_argument("a picture is fitted from and to 24-bit pictures with a size");
  }
  // The scaled size: the full width or the full height, whichever the aspect ratio allows.
  int32_t scaled_width = width, scaled_height = height;
  const int64_t across = int64_t{source.width} * height, down = int64_t{source.height} * width;
  if (across < down) {
    scaled_width = static_cast<int32_t>((across + source.height / 2) / source.height);
  } else if (across > down) {
    scaled_height = static_cast<int32_t>((down + source.width / 2) / source.width);
  }
  scaled_width = std::clamp(scaled_width, 1, width);
  scaled_height = std::clamp(scaled_height, 1, height);

  const std::vector<std::vector<Tap>> columns = AxisTaps(source.width, scaled_width);
  const std::vector<std::vector<Tap>> rows = AxisTaps(source.height, scaled_height);
  // Which new rows each source row adds to, so each source row is scaled across only once
  // and only the new rows are held.
  std::vector<std::vector<Tap>> rows_fed(static_cast<size_t>(source.height));
  for (int32_t y = 0; y < scaled_height; ++y) {
    for (const Tap& tap : rows[static_cast<size_t>(y)])
      rows_fed[static_cast<size_t>(tap.index)].push_back({y, tap.weight});
  }

  const size_t row_samples = static_cast<size_t>(scaled_width) * 3;
  std::vector<float> scaled(row_samples * static_cast<size_t>(scaled_height), 0.0f);
  std::vector<float> across_row(row_samples);
  for (int32_t y = 0; y < source.height; ++y) {
    const std::vector<Tap>& fed = rows_fed[static_cast<size_t>(y)];
    if (fed.empty()) continue;
    const uint8_t* row = source.Row(y);
    for (int32_t x = 0; x < scaled_width; ++x) {
      float blue = 0, green = 0, red = 0;
      for (const Tap& tap : columns[static_cast<size_t>(x)]) {
        const uint8_t* pixel = row + 3 * static_cast<size_t>(tap.index);
        blue += tap.weight * pixel[0];
        green += tap.weight * pixel[1];
        red += tap.weight * pixel[2];
      }
      float* sample = &across_row[3 * static_cast<size_t>(x)];
      sample[0] = blue;
      sample[1] = green;
      sample[2] = red;
    }
    for (const Tap& tap : fed) {
      float* target = &scaled[static_cast<size_t>(tap.index) * row_samples];
      for (size_t i = 0; i < row_samples; ++i)
        target[i] += tap.weight * across_row[i];
    }
  }

  Bitmap fitted;
  fitted.width = width;
  fitted.height = height;
  fitted.bits_per_pixel = 24;
  fitted.pixels.assign(fitted.RowBytes() * static_cast<size_t>(height), 0);  // black
  const int32_t left = (width - scaled_width) / 2, top = (height - scaled_height) / 2;
  for (int32_t y = 0; y < scaled_height; ++y) {
    const float* from = &scaled[static_cast<size_t>(y) * row_samples];
    uint8_t* to = fitted.Row(top + y) + 3 * static_cast<size_t>(left);
    for (size_t i = 0; i < row_samples; ++i)
      to[i] = static_cast<uint8_t>(std::clamp(std::floor(from[i] + 0.5f), 0.0f, 255.0f));
  }
  return fitted;
}

}  // namespace qv
