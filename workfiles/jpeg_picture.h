#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "platform/bitmap.h"

namespace qv {

// Decodes a JPEG file at full size into a bitmap: a colour picture gives 24 bits per pixel,
// a greyscale one 8 bits per pixel with a grey colour table. Any error or warning of the
// decoder (a corrupt or cut-short file included) raises IoError with the decoder's own text.
Bitmap DecodeJpegFile(const std::string& path);

// The same for the bytes of a JPEG file held in memory.
Bitmap DecodeJpeg(std::span<const uint8_t> data);

// The width and height its header gives a JPEG picture, read without decoding any pixel;
// nothing when the header cannot be read.
std::optional<std::pair<uint32_t, uint32_t>> JpegDimensions(std::span<const uint8_t> data);

}  // namespace qv
