#include "cli/sample_pictures.h"

#include <algorithm>
#include <cmath>

namespace qv::cli {

namespace {

void Put(Bitmap& bitmap, int x, int y, int red, int green, int blue) {
  uint8_t* pixel = bitmap.Row(y) + 3 * x;
  pixel[0] = static_cast<uint8_t>(std::clamp(blue, 0, 255));
  pixel[1] = static_cast<uint8_t>(std::clamp(green, 0, 255));
  pixel[2] = static_cast<uint8_t>(std::clamp(red, 0, 255));
}

}  // namespace

Bitmap DrawSampleLogo(LogoKind kind) {
  Bitmap bitmap = MakeBitmap24(720, 576);
  const double cx = 360, cy = 288;
  for (int y = 0; y < 576; ++y) {
    for (int x = 0; x < 720; ++x) {
      double dx = x - cx, dy = y - cy;
      double r = std::sqrt(dx * dx + dy * dy);
      int red = 0, green = 0, blue = 0;
      switch (kind) {
        case LogoKind::kBoot: {  // a bright ring on a deep blue gradient
          red = 10 + y / 8;
          green = 30 + y / 5;
          blue = 90 + x / 6;
          double ring = std::exp(-std::pow((r - 170) / 18, 2));
          red += static_cast<int>(230 * ring);
          green += static_cast<int>(200 * ring);
          blue += static_cast<int>(120 * ring);
          break;
        }
        case LogoKind::kMenu: {  // coloured bars with a light panel
          int bar = x / 90;
          red = (bar & 1) ? 200 : 40;
          green = (bar & 2) ? 190 : 50;
          blue = (bar & 4) ? 210 : 60;
          if (y > 200 && y < 376 && x > 120 && x < 600) red = green = blue = 230 - (y - 200) / 4;
          break;
        }
        case LogoKind::kRadio: {  // waves spreading from the centre
          double wave = 0.5 + 0.5 * std::cos(r / 9.0);
          red = static_cast<int>(40 + 60 * wave);
          green = static_cast<int>(20 + 150 * wave * std::exp(-r / 400));
          blue = static_cast<int>(80 + 160 * wave);
          break;
        }
      }
      Put(bitmap, x, y, red, green, blue);
    }
  }
  return bitmap;
}

}  // namespace qv::cli
