#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// The manufacturer block: the last 4 KiB of the application area (flash 0x6AF000; file offset
// 0x65F000 in app and all images, 0x6AF000 in full images). It holds the box's identity and a
// table of flash regions, each with the CRC-32 of its contents, and ends with a CRC over the
// block itself. Bytes 0 to 71 have the field order and widths of the download header payload.
namespace qv {

struct VariantLayout;

inline constexpr int kManufacturerBlockSize = 4096;
inline constexpr int kRegionRecordOffset = 72;
inline constexpr int kRegionRecordSize = 13;
inline constexpr int kRegionRecordsOnFlash = 130;   // records 72 + 13 * i, i below 130
inline constexpr int kRegionRecordsInMemory = 142;  // the last 12 stay zero after reading
inline constexpr int kBlockCrcOffset = 4092;        // CRC-32 over bytes 0 to 4091
inline constexpr int kManufacturerCfgLineCount = 9;

// A region record, 13 bytes on flash.
struct RegionRecord {
  uint8_t tag;         // 0: carried unchanged
  uint32_t start;      // 1: flash window address of the region's first byte
  uint32_t length;     // 5: 24-bit region length
  uint8_t check_flag;  // 8: 1 asks for the CRC to be recomputed when an image is built
  uint32_t crc;        // 9: CRC-32 of the region's bytes
};

// The in-memory manufacturer block, fields in on-flash order.
struct ManufacturerBlock {
  uint8_t ident_nocheck;                      // 0: IDENT_NOCHECH
  std::array<uint8_t, 15> manufacture_ident;  // 1: MANUFACTURE_IDENT, text
  std::array<uint8_t, 8> hardware_module;     // 16: HARDWARE_MODULE, text
  std::array<uint8_t, 8> hardware_version;    // 24: HARDWARE_VERSION, text
  std::array<uint8_t, 8> software_module;     // 32: SOFTWARE_MODULE, text
  std::array<uint8_t, 8> software_version;    // 40: SOFTWARE_VERSION, text
  std::array<uint8_t, 8> stb_id;              // 48: STB_ID, 64-bit little-endian
  uint8_t byte56;                             // 56 (download type in a download header)
  uint8_t region_count;                       // 57: region records to check
  uint32_t number24;                          // 58: 24-bit number (total size)
  uint8_t byte61;                             // 61 (project select)
  uint8_t byte62;                             // 62 (compress flag)
  uint8_t byte63;                             // 63 (encrypt flag)
  std::array<uint8_t, 8> eight_bytes;         // 64 (encrypt key)
  std::array<RegionRecord, kRegionRecordsInMemory> regions;  // 72: 130 on flash
  uint32_t block_crc;                                        // 4092

  // Every byte of the record set to `byte` (0xFF after a job reset, 0 before reading).
  void Fill(uint8_t byte);
  // The fields of a 4,096-byte block; records 130 to 141 become zero.
  void Decode(std::span<const uint8_t, kManufacturerBlockSize> bytes);
  // Bytes 0 to 71 and the 130 region records of the block; nothing else is touched.
  void EncodeFields(std::span<uint8_t, kManufacturerBlockSize> bytes) const;
  // The number of records that the CRC pass checks: the region count, at most the 130
  // records that exist on flash.
  int CheckedRegionCount() const;
};

// The CRC of a region's bytes in an image of the given variant: the region's flash window
// address taken to a file offset, bytes outside the image taken as 0xFF.
uint32_t RegionCrcInImage(std::span<const uint8_t> image, const VariantLayout& layout,
                          const RegionRecord& region);

// The CRC that seals the block: over bytes 0 to 4091 of the block as the image holds them.
uint32_t BlockCrcInImage(std::span<const uint8_t> image, const VariantLayout& layout);

// What a region record says of the image it is in.
enum class RegionState {
  kMatches,     // check flag 1, and the CRC of the region's bytes is the recorded one
  kDiffers,     // check flag 1, and the bytes give another CRC: damaged, or edited by hand
  kNotChecked,  // a check flag other than 1: the record's CRC is carried, never compared
  kOutside,     // the region does not lie wholly inside an image of this variant
};

// "matches", "differs", "not checked" or "outside".
const char* RegionStateName(RegionState state);

struct RegionCheck {
  int index;
  RegionState state;
  uint32_t image_crc;  // the CRC of the region's bytes, for regions inside the image
};

// The state of each of the first CheckedRegionCount() records in `image`, an image of `layout`.
std::vector<RegionCheck> CheckRegions(std::span<const uint8_t> image, const VariantLayout& layout,
                                      const ManufacturerBlock& block);

// "region 2 (flash 0xA0060000, 0x100 bytes): recorded CRC 0x..., its bytes give 0x...", and
// likewise for the block CRC: the damage `CheckRegions` and the block CRC found, one part per
// damaged item; empty when the image is sound.
std::vector<std::string> DescribeDamage(std::span<const uint8_t> image, const VariantLayout& layout,
                                        const ManufacturerBlock& block);

// A text field as manufacturer.cfg shows it: its characters up to the first zero byte.
std::string FieldText(std::span<const uint8_t> field);

// The nine lines of manufacturer.cfg, the box's identity as the bin-to-download converter
// reads it, built from the block.
std::array<std::string, kManufacturerCfgLineCount> ManufacturerCfgLines(
    const ManufacturerBlock& block);

// Recomputes the CRC of every region whose check flag is 1 over `image`, writes bytes 0 to 71
// and the region records of `block` at the layout's manufacturer block (bytes 1762 to 4091 are
// left as the image has them), and seals the block with its CRC.
void SealManufacturerBlock(ManufacturerBlock& block, const VariantLayout& layout,
                           std::span<uint8_t> image);

}  // namespace qv
