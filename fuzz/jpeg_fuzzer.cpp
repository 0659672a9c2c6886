// The JPEG path of a logo picture: decoded at full size, and when it is a colour picture cut
// or extended to 720 columns and 576 or 480 rows and written as a bitmap file.
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/bitmap.h"
#include "platform/io_error.h"
#include "workfiles/jpeg_picture.h"
#include "workfiles/logo_picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qv::Bitmap picture;
  try {
    picture = qv::DecodeJpeg(std::span(data, size));
  } catch (const qv::IoError&) {
    return 0;  // refused with the decoder's message
  }
  if (picture.width <= 0 || picture.height <= 0 ||
      picture.pixels.size() != picture.RowBytes() * static_cast<size_t>(picture.height) ||
      (picture.bits_per_pixel != 24 && picture.bits_per_pixel != 8)) {
    __builtin_trap();
  }
  if (picture.bits_per_pixel != 24) return 0;  // a greyscale picture is refused for its depth
  const int32_t height = qv::StandardHeight(picture.height);
  qv::SetBitmapSize(picture, 720, height);
  if (qv::EncodeBitmap(picture).size() != 54 + 2160 * static_cast<size_t>(height)) __builtin_trap();
  return 0;
}
