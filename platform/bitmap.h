#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qv {

// A Windows bitmap held in memory at the depth it was loaded with. Rows are kept top row
// first, each `RowBytes()` long (the file's row length, padded to 4 bytes), in the file's own
// pixel layout: palette indices for 1, 4 and 8 bits per pixel, 16-bit or 32-bit words under
// `masks` for 16 and 32, blue-green-red triples for 24.
struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;  // always positive here; the file's row order is undone on load
  uint16_t bits_per_pixel = 24;
  std::vector<uint32_t> palette;       // 0x00RRGGBB entries for the indexed depths
  std::array<uint32_t, 3> masks = {};  // red, green, blue masks for 16 and 32 bits
  bool explicit_masks = false;         // the file stored its masks (BI_BITFIELDS)
  std::vector<uint8_t> pixels;

  size_t RowBytes() const { return RowBytesFor(width, bits_per_pixel); }
  uint8_t* Row(int32_t y) { return pixels.data() + static_cast<size_t>(y) * RowBytes(); }
  const uint8_t* Row(int32_t y) const {
    return pixels.data() + static_cast<size_t>(y) * RowBytes();
  }

  static size_t RowBytesFor(int32_t width, uint16_t bits_per_pixel) {
    return (static_cast<size_t>(width) * bits_per_pixel + 31) / 32 * 4;
  }
};

// A blank 24-bit bitmap, white all over.
Bitmap MakeBitmap24(int32_t width, int32_t height);

// Parses a bitmap file held in memory. Accepts the 40-byte information header and the
// longer ones that extend it (52, 56, 108, 124 bytes) as well as the 12-byte core header of
// the first bitmaps; uncompressed pixels at 1, 4, 8, 16, 24 and 32 bits per pixel, bit-field
// pixels at 16 and 32, run-length pixels at 4 and 8; rows bottom-up or top-down.
// Raises IoError naming what is wrong when the file is not such a bitmap, lies about its
// sizes or offsets, or is cut short.
Bitmap ParseBitmap(std::span<const uint8_t> file);

// Reads and parses a bitmap file; raises IoError.
Bitmap LoadBitmap(const std::string& path);

// The file form of `bitmap`: a 14-byte file header, the 40-byte information header, the
// masks of a bit-field bitmap, the palette of an indexed one, then the rows bottom row first.
// A 24-bit bitmap thus has its pixels at byte offset 54.
std::vector<uint8_t> EncodeBitmap(const Bitmap& bitmap);

// Writes EncodeBitmap(bitmap) to `path`, replacing the file; raises IoError.
void SaveBitmap(const Bitmap& bitmap, const std::string& path);

// Sets the width and height, keeping the top-left corner: columns and rows beyond the new
// size are cut off, those added are white.
void SetBitmapSize(Bitmap& bitmap, int32_t width, int32_t height);

// The colour of pixel (x, y) as 0x00RRGGBB, whatever the depth.
uint32_t PixelColour(const Bitmap& bitmap, int32_t x, int32_t y);

}  // namespace qv
