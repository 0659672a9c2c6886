#include "bintodld/cfg_parser.h"

#include "bintodld/print.h"
#include "download/record_format.h"

namespace qv::bintodld {

namespace {

constexpr int kCrcSize = 4;

uint8_t DigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<uint8_t>(c - 'a' + 10);
  return 0;  // counts as a value character, but has no digit value
}

void Refuse(CfgParser& parser, const char* problem) {
  if (parser.problem.empty()) parser.problem = problem;
}

void ClearValue(CfgParser& parser) {
  parser.value_length = 0;
  parser.digits.fill(0);
}

// The sections a file may use: manufacturer.cfg has one, the configuration file two.
bool SectionInRange(const CfgParser& parser) {
  if (parser.file == CfgFile::kManufacturer) return parser.section <= 0;
  return parser.section >= -1 && parser.section <= 1;
}

// Header bytes go into the payload, leaving room for the record's CRC.
void PutHeaderByte(CfgParser& parser, int position, uint8_t value) {
  if (position < kHeaderPayloadStart || position >= kHeaderBufferSize - kCrcSize) {
    Refuse(parser, "A value in the cfg file runs outside the download header!\n");
    return;
  }
  parser.header[static_cast<size_t>(position)] = value;
}

void PutSectorByte(CfgParser& parser, SectorRecord& record, int position, uint8_t value) {
  if (position < kSectorPayloadStart || position >= kSectorRecordSize - kCrcSize) {
    Refuse(parser, "A value in the cfg file runs outside the sector header!\n");
    return;
  }
  record[static_cast<size_t>(position)] = value;
}

void StartSector(CfgParser& parser) {
  ++parser.sector;
  parser.sector_position = kSectorPayloadStart;
  if (parser.sector >= kMaxSectors) Refuse(parser, "The cfg file lists more than 256 sectors!\n");
}

// A value with fewer than three characters gives 0, d0 or d0 * 10 + d1; three characters
// give d0 * 100 + d1 * 10 + d2; the byte keeps the number modulo 256.
uint8_t DecimalValue(const CfgParser& parser) {
  int value = 0;
  for (int i = 0; i < parser.value_length; ++i)
    value = value * 10 + parser.digits[i];
  return static_cast<uint8_t>(value);
}

// A hexadecimal value "0x" and digit pairs: the k-th pair (k from 1) goes to byte
// width - k of the field, so the value's last pair lands in the field's first byte.
// Returns the number of bytes written; a dangling last digit is ignored.
template <typename Put>
int StoreHex(const CfgParser& parser, int position, int width, Put put) {
  const int pairs = parser.value_length >= 2 ? (parser.value_length - 2) / 2 : 0;
  for (int k = 1; k <= pairs; ++k) {
    const int at = 2 + 2 * (k - 1);
    put(position + width - k, static_cast<uint8_t>(parser.digits[at] << 4 | parser.digits[at + 1]));
  }
  return pairs;
}

void WarnFieldLength(CfgParser& parser, std::ostream& out) {
  Print(out, "field len wrong!Warning:bad format--cfg file!\n");
  Print(out, "Current Block is %d!\n", parser.section);
  Print(out, "Read Filed is %d\n", parser.field);
  parser.value_overran_field = true;
}

void StoreHeaderValue(CfgParser& parser, std::ostream& out) {
  if (parser.field < 0 || parser.field >= kHeaderFieldCount) {
    // A field past the header: the key of a header whose ENCRYPT_FLAG is 0, or a surplus line.
    ClearValue(parser);
    return;
  }
  const int width = kHeaderFieldWidths[parser.field];
  const uint8_t first_digit = parser.digits[0];
  int produced = 0;
  switch (kHeaderFieldForms[parser.field]) {
    case FieldForm::kDecimal:
      if (parser.value_length <= 3) {
        PutHeaderByte(parser, parser.header_position, DecimalValue(parser));
      } else {
        Print(out, "iTempOffset = %d\n", parser.value_length);
        Print(out, "case 32 or case 13 Warning:bad format--cfg file!\n");
      }
      if (parser.field == kCompressFlagField && parser.header_position < kHeaderBufferSize) {
        parser.compressed = parser.header[static_cast<size_t>(parser.header_position)] != 0;
      }
      parser.header_position += 1;
      produced = 1;
      break;
    case FieldForm::kHex:
      produced = StoreHex(parser, parser.header_position, width,
                          [&](int at, uint8_t byte) { PutHeaderByte(parser, at, byte); });
      parser.header_position += produced;
      break;
    case FieldForm::kText:
      produced = parser.value_length;  // written as the characters arrived
      break;
  }
  if (produced > width) {
    // The counters are left as they are: the next value continues this one.
    WarnFieldLength(parser, out);
  } else {
    parser.header_position += width - produced;
    ClearValue(parser);
  }
  // ENCRYPT_FLAG 0: the key counts as read and takes no bytes in the header.
  if (parser.field == kEncryptFlagField && first_digit == 0) parser.field = kEncryptKeyField;
}

void StoreSectorValue(CfgParser& parser, std::ostream& out) {
  if (parser.sector < 0 || parser.sector >= kMaxSectors || parser.field < 0 ||
      parser.field >= kSectorFieldsPerSector) {
    ClearValue(parser);
    return;
  }
  SectorRecord& record = parser.sectors[static_cast<size_t>(parser.sector)];
  const int width = kSectorFieldWidths[parser.field];
  int produced = 0;
  if (parser.field == 0) {
    // MEMORY_TYPE: only the first character counts.
    PutSectorByte(parser, record, parser.sector_position, parser.digits[0]);
    produced = 1;
  } else {
    produced = StoreHex(parser, parser.sector_position, width,
                        [&](int at, uint8_t byte) { PutSectorByte(parser, record, at, byte); });
  }
  parser.sector_position += produced;
  if (produced > width) {
    WarnFieldLength(parser, out);
    Print(out, "Current field_len is %d\n", width);
  } else {
    parser.sector_position += width - produced;
    ClearValue(parser);
  }
  if (parser.field == kSectorSizeField) {
    // The rest of the record is computed during conversion; the next "=" starts the next
    // sector.
    parser.sector_position +=
        parser.compressed ? kComputedFieldsCompressed : kComputedFieldsUncompressed;
    if (parser.sector_position + 2 > 0xFF) {
      Refuse(parser, "A value in the cfg file runs outside the sector header!\n");
    } else {
      record[0] = kSectorHeaderTag;
      record[1] = static_cast<uint8_t>(parser.sector_position + 2);
    }
    parser.field = kSectorFieldsPerSector - 1;
  }
}

void EndValue(CfgParser& parser, std::ostream& out) {
  parser.value_mode = false;
  if (parser.section == 0) {
    StoreHeaderValue(parser, out);
  } else if (parser.section == 1) {
    StoreSectorValue(parser, out);
  } else {
    ClearValue(parser);  // before the first section header: no field to go to
  }
}

void AddValueCharacter(CfgParser& parser, char c) {
  if (parser.value_length >= kValueLimit) {
    Refuse(parser, "A value in the cfg file is longer than 64 characters!\n");
    return;
  }
  parser.digits[static_cast<size_t>(parser.value_length++)] = DigitValue(c);
  if (parser.section == 0 && parser.field >= 0 && parser.field < kHeaderFieldCount &&
      kHeaderFieldForms[parser.field] == FieldForm::kText) {
    PutHeaderByte(parser, parser.header_position, static_cast<uint8_t>(c));
    ++parser.header_position;
  }
}

}  // namespace

void BeginCfgFile(CfgParser& parser, CfgFile file) {
  parser.file = file;
  parser.section = -1;
  parser.section_header_open = false;
  parser.value_mode = false;
  ClearValue(parser);
}

void ParseCfgCharacter(CfgParser& parser, char c, std::ostream& out) {
  if (!SectionInRange(parser)) {
    Print(out, "default-->Warning:bad format--cfg file!iCurrCfgBlock is %d\n", parser.section);
    return;
  }
  switch (c) {
    case '[':
      parser.section_header_open = true;
      parser.value_mode = false;
      return;
    case ']':
      if (!parser.section_header_open) {
        Print(out, "case]->Warning:bad format--cfg file!\n");
        return;
      }
      parser.section_header_open = false;
      parser.value_mode = false;
      ++parser.section;
      if (parser.section == 1) {
        parser.field = -1;
        StartSector(parser);
      } else if (parser.section == 2) {
        parser.field = -1;
      }
      return;
    case '=':
      if (parser.section_header_open) return;
      parser.value_mode = true;
      ++parser.field;
      if (parser.section == 1 && parser.field == kSectorFieldsPerSector) {
        parser.field = 0;
        StartSector(parser);
      }
      return;
    case ' ':
    case '\t':
    case '\r':
      if (parser.value_mode && parser.value_length > 0) EndValue(parser, out);
      return;
    default:
      if (parser.value_mode) AddValueCharacter(parser, c);
      return;
  }
}

void ParseCfgText(CfgParser& parser, std::string_view text, std::ostream& out) {
  for (char c : text)
    ParseCfgCharacter(parser, c, out);
}

}  // namespace qv::bintodld
