#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// The parser of manufacturer.cfg and the download header configuration files. It reads the
// two files character by character, one after the other, and fills the download header
// record and one sector header record per listed sector.
//
// A key line is "key = value width"; the key and the width column are for the reader only.
// Every "=" outside a section header starts the next field of a fixed sequence, and the
// field's width and form come from the tables below. The first section (of either file)
// holds the header fields, whose count runs on from manufacturer.cfg into the configuration
// file; the configuration file's second section lists the sectors, three fields each.
namespace qv::bintodld {

inline constexpr int kHeaderBufferSize = 1024;  // the download header record being built
inline constexpr int kHeaderPayloadStart = 3;   // after the tag and the 2-byte length
inline constexpr int kMaxSectors = 256;
inline constexpr int kSectorRecordSize = 256;  // one sector header record being built
inline constexpr int kSectorPayloadStart = 2;  // after the tag and the 1-byte length
inline constexpr int kValueLimit = 64;         // characters of one value the parser holds

enum class FieldForm { kDecimal, kHex, kText };

// Header fields 0 to 13: IDENT_NOCHECH, MANUFACTURE_IDENT, HARDWARE_MODULE, HARDWARE_VERSION,
// SOFTWARE_MODULE, SOFTWARE_VERSION, STB_ID (from manufacturer.cfg), then DOWNLOAD_TYPE,
// PARTITION_COUNT, TRANS_TOTAL_SIZE, STB_PROJECT_SELECT, COMPRESS_FLAG, ENCRYPT_FLAG and
// ENCRYPT_KEY (from the configuration file).
inline constexpr int kHeaderFieldCount = 14;
inline constexpr std::array<int, kHeaderFieldCount> kHeaderFieldWidths = {1, 15, 8, 8, 8, 8, 8,
                                                                          1, 1,  3, 1, 1, 1, 8};
inline constexpr std::array<FieldForm, kHeaderFieldCount> kHeaderFieldForms = {
    FieldForm::kDecimal, FieldForm::kText, FieldForm::kText,    FieldForm::kText,
    FieldForm::kText,    FieldForm::kText, FieldForm::kHex,     FieldForm::kDecimal,
    FieldForm::kDecimal, FieldForm::kHex,  FieldForm::kDecimal, FieldForm::kDecimal,
    FieldForm::kDecimal, FieldForm::kHex};
inline constexpr int kCompressFlagField = 11;
inline constexpr int kEncryptFlagField = 12;
inline constexpr int kEncryptKeyField = 13;

// Sector fields: memory type, start, size, then the fields the converter computes (CRC of
// the sector, compressed length, CRC of the compressed data, transfer units).
inline constexpr std::array<int, 7> kSectorFieldWidths = {1, 4, 3, 4, 3, 4, 1};
inline constexpr int kSectorSizeField = 2;
inline constexpr int kSectorFieldsPerSector = 7;
// Payload bytes after the size: 4 + 3 + 4 + 1 in the compressed form, 4 + 1 otherwise.
inline constexpr int kComputedFieldsCompressed = 12;
inline constexpr int kComputedFieldsUncompressed = 5;

enum class CfgFile { kManufacturer, kHeader };

using SectorRecord = std::array<uint8_t, kSectorRecordSize>;

struct CfgParser {
  CfgFile file = CfgFile::kManufacturer;
  int section = -1;  // rises at every closed section header
  int field = -1;    // rises at every "="
  int sector = -1;   // index of the sector being read
  int header_position = kHeaderPayloadStart;
  int sector_position = kSectorPayloadStart;
  bool section_header_open = false;
  bool value_mode = false;

  // The value being read: its character count and each character's digit value.
  int value_length = 0;
  std::array<uint8_t, kValueLimit> digits{};

  bool compressed = false;  // from COMPRESS_FLAG: the compressed form of the sector records
  std::array<uint8_t, kHeaderBufferSize> header{};
  std::vector<SectorRecord> sectors = std::vector<SectorRecord>(kMaxSectors);

  bool value_overran_field = false;  // a value produced more bytes than its field holds
  std::string problem;               // the first reason the files cannot be used, if any
};

// Prepares for the next file: the section number goes back to -1 and the flags and the
// value counters are cleared; the field and sector numbers and the positions run on.
void BeginCfgFile(CfgParser& parser, CfgFile file);

// Feeds characters to the parser; warnings go to `out`. The parser never stops: a malformed
// text gives warnings (and a problem) and parsing goes on with the next character.
void ParseCfgCharacter(CfgParser& parser, char c, std::ostream& out);
void ParseCfgText(CfgParser& parser, std::string_view text, std::ostream& out);

// The download header payload length so far (72 when all fourteen fields are present).
inline int HeaderPayloadLength(const CfgParser& parser) {
  return parser.header_position - kHeaderPayloadStart;
}
// The number of sectors listed: the last sector's index + 1.
inline int SectorCount(const CfgParser& parser) {
  return parser.sector + 1;
}
// The last sector's header payload length (20 in the compressed form).
inline int SectorPayloadLength(const CfgParser& parser) {
  return parser.sector_position - kSectorPayloadStart;
}

}  // namespace qv::bintodld
