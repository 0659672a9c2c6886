// The bitmap loader as a logo picture goes through it: parsed, written back at its own depth
// and parsed again (the two must agree), then cut or extended to 720 columns and 576 or 480
// rows, keeping the top-left corner, and written once more.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/bitmap.h"
#include "platform/io_error.h"
#include "workfiles/logo_picture.h"

namespace {

using namespace qv;

bool SamePicture(const Bitmap& a, const Bitmap& b) {
  return a.width == b.width && a.height == b.height && a.bits_per_pixel == b.bits_per_pixel &&
         a.palette == b.palette && a.pixels == b.pixels &&
         (a.bits_per_pixel <= 8 || a.bits_per_pixel == 24 || a.masks == b.masks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bitmap bitmap;
  try {
    bitmap = ParseBitmap(std::span(data, size));
  } catch (const IoError&) {
    return 0;  // refused with a message
  }
  // What the loader accepts, its writer writes and its loader accepts again, unchanged.
  Bitmap again = ParseBitmap(EncodeBitmap(bitmap));
  if (!SamePicture(bitmap, again)) __builtin_trap();

  // Every pixel has a colour, whatever the depth.
  uint32_t mixed = 0;
  for (int32_t y = 0; y < bitmap.height; y += 1 + bitmap.height / 8) {
    for (int32_t x = 0; x < bitmap.width; x += 1 + bitmap.width / 8)
      mixed ^= PixelColour(bitmap, x, y);
  }

  const int32_t height = StandardHeight(bitmap.height);
  SetBitmapSize(bitmap, 720, height);
  if (bitmap.pixels.size() != bitmap.RowBytes() * static_cast<size_t>(height)) __builtin_trap();
  // The added columns and rows are white.
  if (bitmap.bits_per_pixel == 24 && PixelColour(bitmap, 719, height - 1) != 0xFFFFFF &&
      (again.width < 720 || again.height < height)) {
    __builtin_trap();
  }
  std::vector<uint8_t> file = EncodeBitmap(bitmap);
  if (ParseBitmap(file).pixels != bitmap.pixels) __builtin_trap();
  return static_cast<int>(mixed & 0);
}
