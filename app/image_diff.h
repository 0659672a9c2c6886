#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/image_file.h"

// What differs between two images of one variant, part by part: what a build changed, or what
// tells two boxes' firmware apart.
namespace qv {

enum class PartChange { kUnchanged, kChanged, kAdded, kRemoved };

struct PartitionDifference {
  std::string name;  // as the directory holds it (shown escaped)
  PartChange change;
  std::optional<uint32_t> old_length, new_length;
  std::optional<uint32_t> old_crc, new_crc;  // CRC-32 of the partition's bytes
};

// A text that differs: the model id, an HTTP setting, an identity field.
struct TextDifference {
  std::string what;
  std::string old_text, new_text;
};

struct RegionDifference {
  int index;
  std::string old_record, new_record;  // tag, start, length, flag and CRC, as info shows them
};

// A stretch of the image outside the partitions that extraction takes as a file of its own:
// the boot area, a carried range, the default database or the key block.
struct AreaDifference {
  std::string name;  // "boot area", "carried range 0x660000", "default database", "key block"
  uint32_t offset;   // in the image file
  uint32_t length;
  uint32_t old_crc, new_crc;  // CRC-32 of its bytes
};

struct ImageDifference {
  Variant variant;
  std::vector<PartitionDifference> partitions;  // every partition, unchanged ones included
  std::vector<TextDifference> texts;            // only those that differ
  std::vector<RegionDifference> regions;        // only those that differ
  bool region_count_differs = false;
  std::vector<AreaDifference> areas;  // only those that differ
  // Where the images' bytes first differ when nothing above tells them apart (bytes between
  // partitions, the rest of the directory or the manufacturer block, one image longer): equal
  // images are equal byte for byte.
  std::optional<uint64_t> other_bytes_differ_at;
  bool Equal() const;
};

// Compares two images part by part. Partitions are matched by name, the n-th of a name in one
// with the n-th of that name in the other. Fails when the images are of different variants.
[[nodiscard]] Result<ImageDifference> CompareImages(const FlashImage& a, const FlashImage& b);

}  // namespace qv
