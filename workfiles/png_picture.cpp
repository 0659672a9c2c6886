// The PNG file of a picture, written with libpng's simplified interface, which reports its
// faults in the image structure instead of jumping out of the writer.
#include "workfiles/png_picture.h"

#include <png.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace qv {

std::vector<uint8_t> EncodePng(const Bitmap& picture) {
  if (picture.width <= 0 || picture.height <= 0)
    throw std::invalid_argument("a PNG picture needs a width and a height");

  // The rows as libpng takes them: blue-green-red triples without the bitmap's row padding.
  const size_t row_bytes = static_cast<size_t>(picture.width) * 3;
  std::vector<uint8_t> rows(row_bytes * static_cast<size_t>(picture.height));
  for (int32_t y = 0; y < picture.height; ++y) {
    uint8_t* row = rows.data() + static_cast<size_t>(y) * row_bytes;
    if (picture.bits_per_pixel == 24) {
      std::memcpy(row, picture.Row(y), row_bytes);
      continue;
    }
    for (int32_t x = 0; x < picture.width; ++x) {
      const uint32_t colour = PixelColour(picture, x, y);
      row[3 * x] = static_cast<uint8_t>(colour);
      row[3 * x + 1] = static_cast<uint8_t>(colour >> 8);
      row[3 * x + 2] = static_cast<uint8_t>(colour >> 16);
    }
  }

  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(picture.width);
  image.height = static_cast<png_uint_32>(picture.height);
  image.format = PNG_FORMAT_BGR;  // written as 8-bit RGB, not interlaced
  png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
  std::vector<uint8_t> file(size);
  if (!png_image_write_to_memory(&image, file.data(), &size, 0, rows.data(), 0, nullptr)) {
    const std::string message = image.message;
    png_image_free(&image);
    throw std::runtime_error("the PNG picture cannot be written: " + message);
  }
  file.resize(size);
  return file;
}

}  // namespace qv
