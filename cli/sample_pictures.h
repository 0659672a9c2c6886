#pragma once

#include "platform/bitmap.h"

namespace qv::cli {

// The logos of the sample images, drawn in code: 720 x 576, 24 bits per pixel. Kind 0 is the
// boot logo, 1 the menu logo, 2 the radio logo.
Bitmap DrawSampleLogo(int kind);

}  // namespace qv::cli
