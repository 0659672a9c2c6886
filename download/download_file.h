#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "download/record_format.h"
#include "image/variant.h"
#include "platform/result.h"

// The download file (.dld): the record container that the box's loader accepts (its records
// in download/record_format.h). The data of every sector is one LZO1X stream, placed in the
// flash-image layout of the file's variant.
namespace qv {

// Converts the download file at `path` into the flash-image layout of `variant` (0, 1, 5, 6
// or 7) at `output_path`: the variant's 64 KiB blocks of 0xFF, then data block n at
// BlockFileOffset(variant, n) for every sector pair the variant expects. Every record is
// verified; anything after the last expected pair is ignored. On failure the output holds
// the blocks placed before the faulty record, and the error says what was wrong and where.
[[nodiscard]] Result<void> ConvertDownload(const std::string& path, Variant variant,
                                           const std::string& output_path);

// The same conversion from bytes in memory to bytes in memory; `image` receives the output
// file's bytes, on failure those placed before the faulty record.
[[nodiscard]] Result<void> ConvertDownloadBytes(std::span<const uint8_t> download, Variant variant,
                                                std::vector<uint8_t>& image);

// The most bytes of a download file that a conversion of `variant` can look at: the header
// record and, per sector, the largest sector header and data records within the limits.
size_t DownloadInputBound(Variant variant);

// The partition count of a download file (the byte at offset 60), which names its variant;
// nothing for a file shorter than 61 bytes.
std::optional<uint8_t> PartitionCountByte(std::span<const uint8_t> download);

// Makes sure LZO is initialised before first use; safe to call many times.
void EnsureLzoReady();

}  // namespace qv
