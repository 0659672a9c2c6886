// The PNG path of a logo picture: decoded to 24 bits (under a small pixel bound, so that each
// run stays short), fitted to 720 x 576, and cut or extended to 720 columns and 576 or 480 rows
// and written as a bitmap file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/bitmap.h"
#include "workfiles/fit_picture.h"
#include "workfiles/logo_picture.h"
#include "workfiles/png_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  qv::Result<qv::Bitmap> decoded = qv::DecodePng(bytes, uint64_t{1} << 20);
  if (!decoded) return 0;  // refused with libpng's reason
  qv::Bitmap& picture = *decoded;
  const auto dimensions = qv::PngDimensions(bytes);
  if (picture.width <= 0 || picture.height <= 0 || picture.bits_per_pixel != 24 ||
      picture.pixels.size() != picture.RowBytes() * static_cast<size_t>(picture.height) ||
      !dimensions || dimensions->first != static_cast<uint32_t>(picture.width) ||
      dimensions->second != static_cast<uint32_t>(picture.height)) {
    __builtin_trap();
  }
  const qv::Bitmap fitted = qv::FitPicture(picture, 720, 576);
  if (fitted.width != 720 || fitted.height != 576 || fitted.pixels.size() != 2160 * 576)
    __builtin_trap();
  const int32_t height = qv::StandardHeight(picture.height);
  qv::SetBitmapSize(picture, 720, height);
  if (qv::EncodeBitmap(picture).size() != 54 + 2160 * static_cast<size_t>(height)) __builtin_trap();
  return 0;
}
