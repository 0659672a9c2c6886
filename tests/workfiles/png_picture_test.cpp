// The PNG writer, read back with libpng.
#include "workfiles/png_picture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstring>

#include "tests/support/test_pictures.h"

namespace qv {
namespace {

struct ReadBack {
  bool ok = false;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bit_depth = 0;
  int colour_type = 0;
  int interlace = 0;
  std::vector<uint8_t> rgb;  // red, green, blue per pixel, top row first
};

// Decodes a PNG file held in memory with libpng: the header as stored, and the pixels.
ReadBack ReadPng(const std::vector<uint8_t>& file) {
  ReadBack read;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return read;
  image.format = PNG_FORMAT_RGB;
  read.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, read.rgb.data(), 0, nullptr)) return read;
  read.width = image.width;
  read.height = image.height;
  // The header's own fields: the 13 bytes of IHDR after the signature and chunk head.
  if (file.size() < 33) return read;
  read.bit_depth = file[24];
  read.colour_type = file[25];
  read.interlace = file[28];
  read.ok = std::memcmp(file.data() + 12, "IHDR", 4) == 0;
  return read;
}

void ExpectSamePixels(const Bitmap& picture, const ReadBack& read) {
  ASSERT_TRUE(read.ok);
  ASSERT_EQ(read.width, static_cast<png_uint_32>(picture.width));
  ASSERT_EQ(read.height, static_cast<png_uint_32>(picture.height));
  EXPECT_EQ(read.bit_depth, 8);
  EXPECT_EQ(read.colour_type, PNG_COLOR_TYPE_RGB);
  EXPECT_EQ(read.interlace, PNG_INTERLACE_NONE);
  int differing = 0;
  for (int32_t y = 0; y < picture.height; ++y) {
    for (int32_t x = 0; x < picture.width; ++x) {
      const uint32_t colour = PixelColour(picture, x, y);
      const uint8_t* pixel = read.rgb.data() + 3 * (static_cast<size_t>(y) * picture.width + x);
      const uint32_t back = (uint32_t{pixel[0]} << 16) | (uint32_t{pixel[1]} << 8) | pixel[2];
      if (back != colour && ++differing <= 3) {
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << back << " not " << colour;
      }
    }
  }
  EXPECT_EQ(differing, 0);
}

// Logo-sized pictures, and widths whose bitmap rows carry padding (3 x 1, 3 x 5 and 3 x 7
// bytes are no multiple of four): every pixel comes back, in its place and colour.
TEST(PngPicture, EveryPixelComesBackFromLibpng) {
  for (auto [width, height] : {std::pair{720, 576}, {720, 480}, {1, 1}, {5, 3}, {7, 9}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    const Bitmap picture = testing::MakePicture(testing::PictureKind::kNoise, width, height, 4);
    ExpectSamePixels(picture, ReadPng(EncodePng(picture)));
  }
  // A picture whose every row differs, so rows swapped or shifted show.
  Bitmap ramp = MakeBitmap24(3, 256);
  for (int32_t y = 0; y < 256; ++y) {
    for (int x = 0; x < 9; ++x)
      ramp.Row(y)[x] = static_cast<uint8_t>(y + x * 40);
  }
  ExpectSamePixels(ramp, ReadPng(EncodePng(ramp)));
}

// A palette bitmap is written with the colours its indices name.
TEST(PngPicture, AnIndexedBitmapIsWrittenInItsColours) {
  const Bitmap grey = testing::IndexedBitmap(6, 4, testing::GreyPalette(16), 9);
  ExpectSamePixels(grey, ReadPng(EncodePng(grey)));
}

}  // namespace
}  // namespace qv
