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

// Whether `download` converts to exactly `image`, as ConvertDownloadBytes and a comparison
// would find, with the same error when it cannot be converted. A sound download file is
// checked sector by sector, without making the converted image.
[[nodiscard]] Result<bool> DownloadHoldsImage(std::span<const uint8_t> download, Variant variant,
                                              std::span<const uint8_t> image);

// One record of a download file as ListDownloadRecords found it.
struct DownloadRecord {
  int64_t offset;   // of its tag byte
  RecordType type;  // as its tag gives it
  int sector;       // the sector pair it stands in, counted from 0; -1 for a download header
  uint32_t length;  // its length field: the payload's bytes and 4 for the CRC
  bool crc_ok;      // the four bytes after the payload are the CRC of the payload
  // A sector data record whose CRC matches: the bytes its LZO1X stream decompresses to.
  std::optional<uint32_t> data_size;
  // What is wrong with the record ("; " between several faults); empty when it is sound.
  std::string problem;
};

// What a walk over a download file finds besides the faults of single records.
enum class DownloadFindingKind {
  kCutShort,              // the file ends before or inside a record of the variant's stream
  kNoRecord,              // bytes that begin no record where one of the stream should begin
  kTooManyRecords,        // more records than the walk lists; it stops there
  kSectorsBeyondVariant,  // sector pairs after the variant's last one
  kDataAfterStream,       // bytes after the last record
  kSectorPastItsSector,   // a sector's data decompresses to more bytes than its sector has
  kSectorPastImage,       // ... and reaches past the end of the variant's image
  kTotalSizeDiffers,      // TRANS_TOTAL_SIZE of the header is not the file's size
};

struct DownloadFinding {
  DownloadFindingKind kind;
  int64_t offset;    // where in the file it lies
  std::string text;  // the sentence a report shows, without a full stop
};

struct DownloadListing {
  std::vector<DownloadRecord> records;
  std::vector<DownloadFinding> findings;
  int64_t stream_end = 0;  // where the last record of the variant's stream ends
  int64_t walk_end = 0;    // where the last record the walk framed ends

  // Every record sound and nothing found.
  bool Sound() const;
};

// The most records past the variant's stream that ListDownloadRecords lists.
inline constexpr int kMostRecordsBeyondStream = 64;

// Lists every record of a download file of `variant` (0, 1, 5, 6 or 7): its place, type,
// length, CRC and, for sector data, the size its stream decompresses to. `download` holds the
// file's first bytes (at least DownloadInputBound(variant) of a longer file) and `file_size` is
// the length of the whole file. The walk goes on past a faulty record wherever its tag and
// length field still frame it, takes records out of their order as the sector they stand for,
// and reads nothing outside `download`. The findings say where the file is cut short or stops
// being records, which sector pairs follow the variant's last one, what data follows the last
// record, which sectors decompress past their sector or the image, and whether the header's
// total size is the file's.
DownloadListing ListDownloadRecords(std::span<const uint8_t> download, Variant variant,
                                    int64_t file_size);

// The most bytes of a download file that a conversion of `variant` can look at: the header
// record and, per sector, the largest sector header and data records within the limits.
size_t DownloadInputBound(Variant variant);

// The partition count of a download file (the byte at offset 60), which names its variant;
// nothing for a file shorter than 61 bytes.
std::optional<uint8_t> PartitionCountByte(std::span<const uint8_t> download);

// Makes sure LZO is initialised before first use; safe to call many times.
void EnsureLzoReady();

}  // namespace qv
