#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "image/flash_image.h"
#include "image/partition_edits.h"
#include "platform/result.h"

// The merged image: the flash image that Start writes, as a function of the opened image and
// what the user replaced in it.
namespace qv {

// What a build puts into the merged image in place of the opened image's own content.
struct Replacements {
  explicit Replacements(const FlashImage& image) : partitions(image) {}

  PartitionEdits partitions;                             // replaced logos and stored settings
  std::optional<std::vector<uint8_t>> default_database;  // 0x40000 bytes for the database region
  std::optional<std::vector<uint8_t>> key_block;         // 0x10000 bytes for the key region
};

// Builds the merged image, in this order: the variant's 64 KiB blocks of 0xFF; the boot area
// of a full image; "appcode", "fw_audio" and "fw_video" at their offsets; the ranges that all
// and full images carry over; the default database and key regions (the replacements, or
// the image's own in all and full images; an app image grows to hold a replacement, the gap
// reading as zero bytes); the small partitions re-packed one after another in directory
// order (each at the first multiple of 16 after the end of the entry before it; large
// partitions and a small partition at index 0 keep their offsets) and the directory; last,
// the manufacturer block with its region CRCs recomputed over the result and sealed.
//
// Fails, building nothing, when a re-packed small partition would reach into another
// partition or past the partition space; the error names both.
[[nodiscard]] Result<std::vector<uint8_t>> BuildMergedImage(const FlashImage& image,
                                                            const Replacements& replacements);

// Writes `data` at `offset` of an image held in memory, growing it as a file grows: the bytes
// between its old end and the offset become zero.
void WriteAt(std::vector<uint8_t>& image, uint64_t offset, std::span<const uint8_t> data);

}  // namespace qv
