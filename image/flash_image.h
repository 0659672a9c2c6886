#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/manufacturer_block.h"
#include "image/partition_directory.h"
#include "image/variant.h"
#include "platform/result.h"

// A flash image of one variant as a value: its bytes, held once, and what they say. Parse()
// decodes the partition directory and the manufacturer block and checks every partition the
// directory lists against the image and its own size, so that every view handed out afterwards
// lies inside the bytes.
namespace qv {

class FlashImage {
 public:
  // Parses the bytes of an image of `variant` (5, 6 or 7): a flash image file, or the image a
  // download file converts into (which may reach past the variant's size). Fails for another
  // variant, for bytes fewer than the variant's size, and for a directory that is unsafe to
  // work with (FindDirectoryProblem).
  [[nodiscard]] static Result<FlashImage> Parse(std::vector<uint8_t> bytes, Variant variant);

  Variant variant() const { return layout_->variant; }
  const VariantLayout& layout() const { return *layout_; }
  std::span<const uint8_t> bytes() const { return bytes_; }
  const PartitionDirectory& directory() const { return directory_; }
  const ManufacturerBlock& manufacturer() const { return manufacturer_; }

  // The data of directory entry `index` (below the usable count): its length in bytes at its
  // offset from the application area.
  std::span<const uint8_t> Partition(int index) const;
  // The first 0x50000 bytes of a full image; empty for the other variants.
  std::span<const uint8_t> BootArea() const;
  // A range of the file inside the variant's size, such as a carried range or the key region.
  std::span<const uint8_t> Range(uint32_t offset, uint32_t length) const;

  // The bytes of every "modelid" partition, one after the other.
  std::string ModelId() const;
  // The data of the "httpcfg" partition (the last one, when there are several); nothing
  // without such a partition.
  std::optional<std::span<const uint8_t>> HttpCfg() const;

 private:
  FlashImage(std::vector<uint8_t> bytes, const VariantLayout& layout);

  std::vector<uint8_t> bytes_;
  const VariantLayout* layout_;
  PartitionDirectory directory_;
  ManufacturerBlock manufacturer_;
};

// The directory and manufacturer block as an image of `layout` holds them, decoded without any
// check: what `quorvane info` shows of an image that cannot be parsed. The bytes must hold the
// layout's directory and manufacturer block.
PartitionDirectory DecodeDirectoryAt(std::span<const uint8_t> image, const VariantLayout& layout);
ManufacturerBlock DecodeManufacturerBlockAt(std::span<const uint8_t> image,
                                            const VariantLayout& layout);

// What would make `directory` unsafe to work with in an image of `layout` that is `image_size`
// bytes long: an entry count above 60, a partition longer than its class allows, one that ends
// past the end of the image or past the partition space, or a second "appcode", "fw_audio" or
// "fw_video". The error names the entry, the field and its offset; nothing when it is sound.
std::optional<Error> FindDirectoryProblem(const PartitionDirectory& directory,
                                          const VariantLayout& layout, int64_t image_size);

}  // namespace qv
