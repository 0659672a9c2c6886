// PNG files of pictures, written and read with libpng's simplified interface, which reports its
// faults in the image structure instead of jumping out of the reader or writer.
#include "workfiles/png_picture.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
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

namespace {

constexpr std::array<uint8_t, 8> kPngSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t ReadBe32(const uint8_t* bytes) {
  return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 |
         uint32_t{bytes[3]};
}

struct PngReadError {
  std::jmp_buf jump;
  char text[200];
};

extern "C" void JumpOnPngError(png_structp png, png_const_charp message) {
  auto* error = static_cast<PngReadError*>(png_get_error_ptr(png));
  std::snprintf(error->text, sizeof error->text, "%s", message);
  std::longjmp(error->jump, 1);
}
extern "C" void IgnorePngWarning(png_structp, png_const_charp) {}

struct MemoryReader {
  std::span<const uint8_t> data;
  size_t at = 0;
};
extern "C" void ReadFromMemory(png_structp png, png_bytep out, size_t length) {
  auto* reader = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > reader->data.size() - reader->at) png_error(png, "read beyond end of data");
  std::memcpy(out, reader->data.data() + reader->at, length);
  reader->at += length;
}

// An Adam7-interlaced picture of 16-bit samples, which libpng's simplified reader scales to 8
// bits from rows it has not yet combined with the earlier passes' pixels: read with the row
// interface instead, as blue, green, red and alpha bytes, then composed over black. Holds no
// object with a destructor between setjmp and the calls that may jump back.
bool ReadInterlaced16(std::span<const uint8_t> data, int32_t width, png_bytepp rows,
                      PngReadError& error) {
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, &error, JumpOnPngError, IgnorePngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  MemoryReader reader{data};
  if (setjmp(error.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  if (!info) png_error(png, "out of memory");
  png_set_read_fn(png, &reader, ReadFromMemory);
  png_read_info(png, info);
  png_set_scale_16(png);
  png_set_expand(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(width) * 4)
    png_error(png, "unexpected row length");
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

}  // namespace

std::optional<std::pair<uint32_t, uint32_t>> PngDimensions(std::span<const uint8_t> data) {
  // The signature, then the first chunk: its length (13), "IHDR", width and height.
  if (data.size() < 24 || !std::equal(kPngSignature.begin(), kPngSignature.end(), data.begin()) ||
      std::memcmp(&data[12], "IHDR", 4) != 0) {
    return std::nullopt;
  }
  return std::pair<uint32_t, uint32_t>{ReadBe32(&data[16]), ReadBe32(&data[20])};
}

Result<Bitmap> DecodePng(std::span<const uint8_t> data, uint64_t largest_pixels) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  // Frees what libpng holds on every way out; harmless after a failed call, which frees it too.
  struct FreeOnExit {
    png_image& image;
    ~FreeOnExit() { png_image_free(&image); }
  } free_on_exit{image};
  if (!png_image_begin_read_from_memory(&image, data.data(), data.size()))
    return Fail("PNG header", 0, std::string("libpng: ") + image.message);
  // A 16-bit picture without gamma information is read as sRGB, as an 8-bit one is, which is
  // what painting programs mean by one; libpng would otherwise take its samples as linear.
  image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
  const uint64_t pixels = uint64_t{image.width} * image.height;
  if (pixels > largest_pixels || image.width > INT32_MAX / 4 || image.height > INT32_MAX / 4) {
    return Fail("PNG header", 16,
                "PNG picture of " + std::to_string(image.width) + " x " +
                    std::to_string(image.height) + " pixels is too large");
  }

  Bitmap bitmap;
  bitmap.width = static_cast<int32_t>(image.width);
  bitmap.height = static_cast<int32_t>(image.height);
  bitmap.bits_per_pixel = 24;
  bitmap.pixels.assign(bitmap.RowBytes() * static_cast<size_t>(bitmap.height), 0);
  if (data.size() > 28 && data[24] == 16 && data[28] == PNG_INTERLACE_ADAM7) {
    png_image_free(&image);
    std::vector<uint8_t> rgba(static_cast<size_t>(pixels) * 4);
    std::vector<png_bytep> rows(static_cast<size_t>(bitmap.height));
    for (size_t y = 0; y < rows.size(); ++y)
      rows[y] = rgba.data() + y * static_cast<size_t>(bitmap.width) * 4;
    PngReadError error{};
    if (!ReadInterlaced16(data, bitmap.width, rows.data(), error))
      return Fail("PNG data", -1, std::string("libpng: ") + error.text);
    for (int32_t y = 0; y < bitmap.height; ++y) {
      const uint8_t* from = rgba.data() + static_cast<size_t>(y) * bitmap.width * 4;
      uint8_t* to = bitmap.Row(y);
      for (int32_t x = 0; x < bitmap.width; ++x, from += 4, to += 3) {
        for (int c = 0; c < 3; ++c)
          to[c] = static_cast<uint8_t>((from[c] * from[3] + 127) / 255);
      }
    }
    return bitmap;
  }
  // Blue, green, red bytes per pixel, top row first: the bitmap's own rows, padding included.
  image.format = PNG_FORMAT_BGR;
  const png_color black = {0, 0, 0};
  if (!png_image_finish_read(&image, &black, bitmap.pixels.data(),
                             static_cast<png_int_32>(bitmap.RowBytes()), nullptr)) {
    return Fail("PNG data", -1, std::string("libpng: ") + image.message);
  }
  return bitmap;
}

}  // namespace qv
