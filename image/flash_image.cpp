#include "image/flash_image.h"

#include <array>

#include "platform/hex.h"

namespace qv {

namespace {

// Where the fields of directory entry `index` lie in the file.
int64_t EntryOffset(const VariantLayout& layout, int index) {
  return int64_t{layout.directory_offset} + int64_t{index} * kEntrySize;
}
int64_t LengthFieldOffset(const VariantLayout& layout, int index, const DirectoryEntry& entry) {
  return EntryOffset(layout, index) + (entry.length_selector == 1 ? 8 : 12);
}

std::optional<Error> CheckEntry(const DirectoryEntry& entry, int index, const VariantLayout& layout,
                                int64_t image_size) {
  const std::string which =
      "partition directory entry " + std::to_string(index) + " (\"" + PrintableName(entry) + "\")";
  const std::string length_field = entry.length_selector == 1 ? "first length" : "second length";
  const int64_t length_at = LengthFieldOffset(layout, index, entry);
  const uint64_t length = entry.Length();
  const PartitionClass partition_class = ClassOf(entry);
  const uint64_t capacity = CapacityOf(partition_class);
  if (length > capacity) {
    return Error{length_field, length_at,
                 which + " has a " + length_field + " of " + std::to_string(length) +
                     " bytes, more than its " + std::to_string(capacity) + "-byte " +
                     DescriptionOf(partition_class)};
  }
  const uint64_t start = uint64_t{layout.area_base} + entry.offset;
  if (start + length > static_cast<uint64_t>(image_size)) {
    return Error{"offset", EntryOffset(layout, index),
                 which + ": its data at file offset " + Hex(start) + " with its " + length_field +
                     " of " + Hex(length) + " bytes ends past the end of the " + Hex(image_size) +
                     "-byte image"};
  }
  // Past the partition space lie the directory, the manufacturer block and the regions a build
  // writes anew: a partition there would be overwritten in the merged image.
  const uint64_t space_end = uint64_t{layout.area_base} + kPartitionSpace;
  if (start + length > space_end) {
    return Error{"offset", EntryOffset(layout, index),
                 which + ": its data at file offset " + Hex(start) + " with its " + length_field +
                     " of " + Hex(length) +
                     " bytes ends past the partition space, which ends at file offset " +
                     Hex(space_end) + " where the partition directory begins"};
  }
  return std::nullopt;
}

}  // namespace

std::optional<Error> FindDirectoryProblem(const PartitionDirectory& directory,
                                          const VariantLayout& layout, int64_t image_size) {
  if (directory.entry_count > kMaxEntries) {
    return Error{"entry count", int64_t{layout.directory_offset} + kMaxEntries * kEntrySize,
                 "the partition directory at file offset " + Hex(layout.directory_offset) +
                     " has an entry count of " + std::to_string(directory.entry_count) +
                     "; it holds at most " + std::to_string(kMaxEntries) + " entries"};
  }
  // A large partition is one of a kind: a second entry of that name would take the first one's
  // place, and the merged image would carry its data twice.
  std::array<int, 3> first_large = {-1, -1, -1};
  for (int i = 0; i < directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    if (std::optional<Error> problem = CheckEntry(entry, i, layout, image_size)) return problem;
    const PartitionClass partition_class = ClassOf(entry);
    if (partition_class == PartitionClass::kSmall) continue;
    int& first = first_large[static_cast<size_t>(partition_class)];
    if (first >= 0) {
      return Error{"name", EntryOffset(layout, i) + 16,
                   "partition directory entry " + std::to_string(i) + " (\"" +
                       PrintableName(entry) + "\") is a second partition for the " +
                       DescriptionOf(partition_class) + ", which entry " + std::to_string(first) +
                       " fills already"};
    }
    first = i;
  }
  return std::nullopt;
}

PartitionDirectory DecodeDirectoryAt(std::span<const uint8_t> image, const VariantLayout& layout) {
  PartitionDirectory directory;
  directory.Decode(image.subspan(layout.directory_offset).first<kDirectorySize>());
  return directory;
}

ManufacturerBlock DecodeManufacturerBlockAt(std::span<const uint8_t> image,
                                            const VariantLayout& layout) {
  ManufacturerBlock block;
  block.Decode(image.subspan(layout.manufacturer_offset).first<kManufacturerBlockSize>());
  return block;
}

Result<FlashImage> FlashImage::Parse(std::vector<uint8_t> bytes, Variant variant) {
  const VariantLayout* layout = LayoutOf(variant);
  if (!layout) {
    return Fail("variant", -1,
                "image variant " + std::to_string(variant) + " is not a flash image variant");
  }
  // Every range the layout names lies inside the variant's size; a converted download may
  // reach further, never less far.
  if (bytes.size() < layout->file_size) {
    return Fail("file size", -1,
                "the image has " + Hex(bytes.size()) + " bytes, fewer than the " +
                    Hex(layout->file_size) + " of its variant");
  }
  FlashImage image(std::move(bytes), *layout);
  if (std::optional<Error> problem = FindDirectoryProblem(
          image.directory_, *layout, static_cast<int64_t>(image.bytes_.size()))) {
    return tl::unexpected<Error>(std::move(*problem));
  }
  return image;
}

FlashImage::FlashImage(std::vector<uint8_t> bytes, const VariantLayout& layout)
    : bytes_(std::move(bytes)),
      layout_(&layout),
      directory_(DecodeDirectoryAt(bytes_, layout)),
      manufacturer_(DecodeManufacturerBlockAt(bytes_, layout)) {}

std::span<const uint8_t> FlashImage::Partition(int index) const {
  const DirectoryEntry& entry = directory_.entries[index];
  return std::span(bytes_).subspan(size_t{layout_->area_base} + entry.offset, entry.Length());
}

std::span<const uint8_t> FlashImage::BootArea() const {
  if (variant() != kFullImage) return {};
  return std::span(bytes_).first(kBootAreaSize);
}

std::span<const uint8_t> FlashImage::Range(uint32_t offset, uint32_t length) const {
  // The layout's ranges all lie inside the variant's size, which Parse made sure of.
  return std::span(bytes_).subspan(offset, length);
}

std::string FlashImage::ModelId() const {
  std::string text;
  for (int i = 0; i < directory_.UsableCount(); ++i) {
    if (!directory_.entries[i].NameIs("modelid")) continue;
    std::span<const uint8_t> data = Partition(i);
    text.append(data.begin(), data.end());
  }
  return text;
}

std::optional<std::span<const uint8_t>> FlashImage::HttpCfg() const {
  std::optional<std::span<const uint8_t>> found;
  for (int i = 0; i < directory_.UsableCount(); ++i) {
    if (directory_.entries[i].NameIs("httpcfg")) found = Partition(i);
  }
  return found;
}

}  // namespace qv
