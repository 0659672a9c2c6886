#pragma once

#include <cstdint>
#include <span>

#include "platform/bitmap.h"
#include "platform/result.h"

// The logo stills an image carries, decoded in the tool: each is one MPEG-2 video stream
// (ISO/IEC 13818-2) of a sequence header of 720 x 576 or 720 x 480, one intra-coded picture and
// the sequence end code.
namespace qv {

// Decodes a logo still into a 24-bit picture (top row first). Fails, saying what is wrong and
// where, for a stream that is not such a still or that the decoder cannot decode whole.
[[nodiscard]] Result<Bitmap> DecodeStill(std::span<const uint8_t> stream);

}  // namespace qv
