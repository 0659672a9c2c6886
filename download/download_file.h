#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/variant.h"

// The download file (.dld): the record container that the box's loader accepts. One download
// header record, then for every flash sector a sector header record and a sector data record.
// Every record is: tag, length (payload + 4; 2 bytes for tag 17, 1 for tag 34, 3 for tag 51),
// payload, CRC-32 of the payload. Numbers are little-endian; sector data is one LZO1X stream.
namespace qv {

inline constexpr uint8_t kHeaderTag = 0x11;        // 17: download header record
inline constexpr uint8_t kSectorHeaderTag = 0x22;  // 34: sector header record
inline constexpr uint8_t kSectorDataTag = 0x33;    // 51: sector data record

inline constexpr int kHeaderPayloadSize = 72;
inline constexpr int kHeaderRecordSize = 79;
inline constexpr int kPartitionCountOffset = 60;  // file offset of PARTITION_COUNT
inline constexpr int kTotalSizeOffset = 61;       // file offset of TRANS_TOTAL_SIZE
inline constexpr int kHeaderCrcOffset = 75;

// No record payload and no decompressed data block may exceed this many bytes.
inline constexpr uint32_t kRecordLimit = 0x1E000;

struct ConversionResult {
  bool ok = false;
  std::string problem;  // what was wrong, and where, when !ok
  explicit operator bool() const { return ok; }
};

// Converts the download file at `path` into the flash-image layout of `variant` (0, 1, 5, 6
// or 7) at `output_path`: the variant's 64 KiB blocks of 0xFF, then data block n at
// BlockFileOffset(variant, n) for every sector pair the variant expects. Every record is
// verified; anything after the last expected pair is ignored. On failure the output holds
// the blocks placed before the faulty record, and the result says what was wrong.
ConversionResult ConvertDownload(const std::string& path, Variant variant,
                                 const std::string& output_path);

// The same conversion from bytes in memory to bytes in memory; `image` receives the output
// file's bytes. Used by ConvertDownload and by readers that must not touch the disk.
ConversionResult ConvertDownloadBytes(std::span<const uint8_t> download, Variant variant,
                                      std::vector<uint8_t>& image);

// Makes sure LZO is initialised before first use; safe to call many times.
void EnsureLzoReady();

}  // namespace qv
