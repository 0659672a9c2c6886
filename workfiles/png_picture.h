#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/bitmap.h"
#include "platform/result.h"

namespace qv {

// The PNG file of a 24-bit picture: 8-bit RGB, no interlacing.
std::vector<uint8_t> EncodePng(const Bitmap& picture);

// The width and height the IHDR chunk gives a PNG file, read from its first 24 bytes without
// decoding anything; nothing when the file does not start with the PNG signature and an IHDR.
std::optional<std::pair<uint32_t, uint32_t>> PngDimensions(std::span<const uint8_t> data);

// Decodes a PNG file of any colour type, bit depth and interlacing into a 24-bit bitmap:
// greys become equal red, green and blue, 16-bit samples are rounded to 8 bits (taken as sRGB,
// as 8-bit ones, when the file gives no gamma), and a picture
// with transparency (an alpha channel or a tRNS chunk) is composed over black, the colour the
// box's screen shows where nothing is drawn. Fails with libpng's own text for a file it cannot
// read whole (damaged, cut short, not a PNG), and for a picture of more than `largest_pixels`
// pixels, before any pixel memory is allocated.
[[nodiscard]] Result<Bitmap> DecodePng(std::span<const uint8_t> data, uint64_t largest_pixels);

}  // namespace qv
