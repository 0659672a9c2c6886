#pragma once

#include <cstdint>
#include <vector>

#include "platform/bitmap.h"

namespace qv {

// The PNG file of a 24-bit picture: 8-bit RGB, no interlacing.
std::vector<uint8_t> EncodePng(const Bitmap& picture);

}  // namespace qv
