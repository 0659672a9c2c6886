#pragma once

#include "image/variant.h"
#include "sample/image_builder.h"

namespace qv::fuzz {

// The sound image that the image target lays its inputs over: the sample image of the
// variant, with the three large partitions (and the regions over them) cut to a few KiB so
// that each run reads and checks little besides what the input changed.
sample::ImageSpec TemplateImageSpec(Variant variant);

}  // namespace qv::fuzz
