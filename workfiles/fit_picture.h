#pragma once

#include <cstdint>

#include "platform/bitmap.h"

namespace qv {

// A 24-bit picture of `width` x `height`, black, with `source` (24 bits per pixel) scaled into
// it as large as it fits whole, keeping its aspect ratio, and centred. Shrinking averages the
// source pixels each new pixel covers, by the area it covers of them; enlarging interpolates
// between the four nearest source pixels (bilinear). A source of that very size comes back
// unchanged.
Bitmap FitPicture(const Bitmap& source, int32_t width, int32_t height);

}  // namespace qv
