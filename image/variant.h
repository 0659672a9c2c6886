#pragma once

#include <array>
#include <cstdint>
#include <span>

// Image variants, their sizes and the flash map of the STi710X box: 8 MiB of flash in 142
// sectors (eight 8 KiB sectors at the bottom, 126 of 64 KiB, eight of 8 KiB at the top).
// Files hold part of that flash; the variant says which part and where each item lies.
namespace qv {

// A variant is a byte; the job keeps only the partition count and derives the variant anew.
enum Variant : uint8_t {
  kKeyDownload = 0,      // one 64 KiB sector: the key block
  kDefaultDownload = 1,  // four 64 KiB sectors: the default channel database
  kAppImage = 5,         // flash 0x050000-0x6AFFFF, 0x660000 bytes, 102 sectors
  kAllImage = 6,         // flash 0x050000-0x7FFFFF, 0x7B0000 bytes, 130 sectors
  kFullImage = 7,        // flash 0x000000-0x7FFFFF, 0x800000 bytes, 142 sectors
  kUnrecognised = 10,
};

inline constexpr uint32_t kFlashWindow = 0xA0000000;  // the processor sees flash byte A at this + A
inline constexpr uint32_t kApplicationArea =
    0x050000;                                    // flash address that partition offsets count from
inline constexpr uint32_t kBlockSize = 0x10000;  // one erased 64 KiB block
inline constexpr uint32_t kPartitionSpace = 0x65E000;  // partition offsets run below this
inline constexpr uint32_t kBootAreaSize = 0x50000;     // flash 0x000000-0x04FFFF, full images only
inline constexpr uint32_t kKeyRegionSize = 0x10000;
inline constexpr uint32_t kDefaultRegionSize = 0x40000;

struct FileRange {
  uint32_t offset;
  uint32_t length;
};

// Where everything lies in a file of one variant (file offsets).
struct VariantLayout {
  Variant variant;
  int32_t partition_count;  // sectors covered: the byte at offset 60 of a download file
  uint32_t file_size;
  uint32_t erased_blocks;  // 64 KiB blocks of 0xFF written before anything else
  uint32_t area_base;      // file offset of flash address 0x050000
  uint32_t directory_offset;
  uint32_t manufacturer_offset;
  uint32_t key_region;
  uint32_t default_region;
  int preserved_count;  // ranges carried over unchanged from the working image
  std::array<FileRange, 4> preserved;
};

inline constexpr VariantLayout kAppLayout{
    .variant = kAppImage,
    .partition_count = 102,
    .file_size = 0x660000,
    .erased_blocks = 102,
    .area_base = 0,
    .directory_offset = 0x65E000,
    .manufacturer_offset = 0x65F000,
    .key_region = 0x6C0000,
    .default_region = 0x6D0000,
    .preserved_count = 0,
    .preserved = {},
};
inline constexpr VariantLayout kAllLayout{
    .variant = kAllImage,
    .partition_count = 130,
    .file_size = 0x7B0000,
    .erased_blocks = 123,
    .area_base = 0,
    .directory_offset = 0x65E000,
    .manufacturer_offset = 0x65F000,
    .key_region = 0x6C0000,
    .default_region = 0x6D0000,
    .preserved_count = 4,
    .preserved = {{{.offset = 0x660000, .length = 0x10000},
                   {.offset = 0x670000, .length = 0x40000},
                   {.offset = 0x6B0000, .length = 0x10000},
                   {.offset = 0x710000, .length = 0xA0000}}},
};
inline constexpr VariantLayout kFullLayout{
    .variant = kFullImage,
    .partition_count = 142,
    .file_size = 0x800000,
    .erased_blocks = 128,
    .area_base = 0x50000,
    .directory_offset = 0x6AE000,
    .manufacturer_offset = 0x6AF000,
    .key_region = 0x710000,
    .default_region = 0x720000,
    .preserved_count = 4,
    .preserved = {{{.offset = 0x6B0000, .length = 0x10000},
                   {.offset = 0x6C0000, .length = 0x40000},
                   {.offset = 0x700000, .length = 0x10000},
                   {.offset = 0x760000, .length = 0xA0000}}},
};

// The ranges an image of the layout carries over unchanged from the opened image.
inline std::span<const FileRange> PreservedRanges(const VariantLayout& layout) {
  return std::span(layout.preserved).first(static_cast<size_t>(layout.preserved_count));
}

// The layout of an image variant (5, 6 or 7); nullptr for any other code.
const VariantLayout* LayoutOf(Variant variant);

// "app image", "all image" or "full image"; "unrecognised" for any other variant.
const char* VariantName(Variant variant);

Variant VariantFromPartitionCount(int32_t count);
Variant VariantFromImageSize(int32_t size);
int32_t PartitionCountOfVariant(Variant variant);

// Number of entries in a variant's layout table (its data blocks), 0 for unknown variants.
int BlockCount(Variant variant);

// 64 KiB blocks of 0xFF that a converted download of the variant is pre-filled with.
uint32_t ErasedBlockCount(Variant variant);

// The file offset at which data block `index` of a download of `variant` is placed. For an
// index at or past the variant's table, or an unknown variant, 0.
int32_t BlockFileOffset(Variant variant, uint8_t index);

// Flash address (or, for variants 0 and 1, file offset) where data block `index` begins,
// and its size in bytes, as the download header configurations list them.
uint32_t BlockStart(Variant variant, int index);
uint32_t BlockSize(Variant variant, int index);

}  // namespace qv
