#include "fuzz/image_template.h"

namespace qv::fuzz {

sample::ImageSpec TemplateImageSpec(Variant variant) {
  sample::ImageSpec spec = sample::DefaultImageSpec(variant);
  // "appcode", "fw_audio" and "fw_video" come first, with the regions 0 to 2 over them.
  const uint32_t lengths[] = {0x6000, 0x3000, 0x2800};
  for (size_t i = 0; i < 3; ++i) {
    spec.partitions[i].data.resize(lengths[i]);
    spec.manufacturer.regions[i].length = lengths[i];
  }
  return spec;
}

}  // namespace qv::fuzz
