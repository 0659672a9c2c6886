#pragma once

#include <cstdint>
#include <span>

#include "image/flash_image.h"
#include "platform/result.h"

namespace qv {

// Checks what Start made as opening it would, before the user gets it: the merged image (its
// directory sound, every region with check flag 1 and the block CRC matching its bytes) and
// the download file (its header naming the image's variant, identity and own size, every
// record and CRC sound, and its image equal to the merged image). The error says what is
// wrong. `image` is the opened image the outputs were made from.
[[nodiscard]] Result<void> CheckOutputs(std::span<const uint8_t> merged,
                                        std::span<const uint8_t> download, const FlashImage& image);

}  // namespace qv
