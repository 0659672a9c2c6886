#pragma once

#include <array>
#include <cstdint>

// The records of a download file (.dld): one download header record, then for every flash
// sector a sector header record and a sector data record. Every record is: tag, length field
// (payload + 4, little-endian, of the width its type gives), payload, CRC-32 of the payload.
// The reader, the bin-to-download converter and the test image builder all take the tags and
// widths from this one table.
namespace qv {

enum class RecordType { kHeader, kSectorHeader, kSectorData };

struct RecordFormat {
  RecordType type;
  uint8_t tag;
  int length_width;  // bytes of the length field
  const char* name;  // as messages name the record
};

inline constexpr std::array<RecordFormat, 3> kRecordFormats{{
    {.type = RecordType::kHeader, .tag = 0x11, .length_width = 2, .name = "download header record"},
    {.type = RecordType::kSectorHeader,
     .tag = 0x22,
     .length_width = 1,
     .name = "sector header record"},
    {.type = RecordType::kSectorData, .tag = 0x33, .length_width = 3, .name = "sector data record"},
}};

constexpr const RecordFormat& FormatOf(RecordType type) {
  return kRecordFormats[static_cast<size_t>(type)];
}

// The format of the record a tag starts; nullptr for a tag no record has.
constexpr const RecordFormat* FormatOfTag(uint8_t tag) {
  for (const RecordFormat& format : kRecordFormats) {
    if (format.tag == tag) return &format;
  }
  return nullptr;
}

inline constexpr uint8_t kHeaderTag = FormatOf(RecordType::kHeader).tag;
inline constexpr uint8_t kSectorHeaderTag = FormatOf(RecordType::kSectorHeader).tag;
inline constexpr uint8_t kSectorDataTag = FormatOf(RecordType::kSectorData).tag;

inline constexpr int kHeaderPayloadSize = 72;
inline constexpr int kHeaderRecordSize = 79;
inline constexpr int kPartitionCountOffset = 60;  // file offset of PARTITION_COUNT
inline constexpr int kTotalSizeOffset = 61;       // file offset of TRANS_TOTAL_SIZE
inline constexpr int kHeaderCrcOffset = 75;

// No record payload and no decompressed data block may exceed this many bytes.
inline constexpr uint32_t kRecordLimit = 0x1E000;

}  // namespace qv
