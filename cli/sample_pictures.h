#pragma once

#include "platform/bitmap.h"
#include "workfiles/logo_kind.h"

namespace qv::cli {

// The logos of the sample images, drawn in code: 720 x 576, 24 bits per pixel.
Bitmap DrawSampleLogo(LogoKind kind);

}  // namespace qv::cli
