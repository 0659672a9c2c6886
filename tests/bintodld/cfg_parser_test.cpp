#include "bintodld/cfg_parser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "image/variant.h"
#include "platform/little_endian.h"
#include "workfiles/header_configs.h"

namespace qv::bintodld {
namespace {

const std::string kManufacturerCfg =
    "[Manufacturer_Data]\r\n"
    "\r\n"
    "IDENT_NOCHECH\t \t= 1\t        \t1\r\n"
    "MANUFACTURE_IDENT \t= QUORVANE-LABS\t\t\t15\r\n"
    "HARDWARE_MODULE \t= STI7100          \t8\r\n"
    "HARDWARE_VERSION \t= HW1.20         \t\t8\r\n"
    "SOFTWARE_MODULE \t= QVBOX            \t8\r\n"
    "SOFTWARE_VERSION \t= SW2.0.7        \t8\r\n"
    "STB_ID\t\t\t= 0x0000000000020003\t8\r\n";

struct Parsed {
  CfgParser parser;
  std::string warnings;

  std::vector<uint8_t> Header(int from, int to) const {
    return {parser.header.begin() + from, parser.header.begin() + to};
  }
  // Bytes of sector n's header payload.
  std::vector<uint8_t> Payload(int n, int from, int to) const {
    const SectorRecord& record = parser.sectors[static_cast<size_t>(n)];
    return {record.begin() + kSectorPayloadStart + from, record.begin() + kSectorPayloadStart + to};
  }
  uint32_t Start(int n) const { return ReadLe32(&parser.sectors[n][kSectorPayloadStart + 1]); }
  uint32_t Size(int n) const { return ReadLe24(&parser.sectors[n][kSectorPayloadStart + 5]); }
};

Parsed Parse(const std::string& manufacturer, const std::string& cfg) {
  Parsed parsed;
  std::ostringstream out;
  ParseCfgText(parsed.parser, manufacturer, out);
  BeginCfgFile(parsed.parser, CfgFile::kHeader);
  ParseCfgText(parsed.parser, cfg, out);
  parsed.warnings = out.str();
  return parsed;
}

std::string AppCfg() {
  return std::string(HeaderConfigFor(kAppImage)->text);
}

// The text with its one occurrence of `from` replaced.
std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// What the shipped files give byte by byte is checked by the converter's round trips; here,
// that they parse cleanly into the 72-byte header and full-length compressed sector records,
// with the TRANS_TOTAL_SIZE placeholder (overwritten in a download) read as configured.
TEST(CfgParser, ShippedConfigurationsParseCleanly) {
  for (const auto& [variant, total] :
       {std::pair{kAppImage, 0x66}, std::pair{kAllImage, 0x7B}, std::pair{kFullImage, 0x80}}) {
    SCOPED_TRACE(HeaderConfigFor(variant)->name);
    Parsed p = Parse(kManufacturerCfg, std::string(HeaderConfigFor(variant)->text));
    EXPECT_EQ(p.warnings, "");
    EXPECT_EQ(p.parser.problem, "");
    EXPECT_FALSE(p.parser.value_overran_field);
    EXPECT_EQ(HeaderPayloadLength(p.parser), 72);
    EXPECT_EQ(SectorPayloadLength(p.parser), 20);
    EXPECT_EQ(SectorCount(p.parser), BlockCount(variant));
    EXPECT_EQ(p.Header(61, 64), (std::vector<uint8_t>{0x00, 0x00, static_cast<uint8_t>(total)}));
  }
}

TEST(CfgParser, KeyNamesAndWidthColumnsAreNotRead) {
  Parsed plain = Parse(kManufacturerCfg, AppCfg());
  std::string cfg = AppCfg();
  cfg = Replace(cfg, "DOWNLOAD_TYPE\t \t= 8\t\t\t1", "KIND = 8 4");
  cfg = Replace(cfg, "ENCRYPT_KEY \t\t= 0X5D3A96C1E07B428F    8", "SECRET= 0X5D3A96C1E07B428F\t1");
  cfg = Replace(cfg, "BLK5_START \t\t= 0xA0090000         \t\t4", "ANYTHING\t=\t0xA0090000 99");
  std::string manufacturer = Replace(kManufacturerCfg, "STB_ID\t\t\t= ", "BOX = ");
  Parsed renamed = Parse(manufacturer, cfg);
  EXPECT_EQ(renamed.warnings, "");
  EXPECT_EQ(renamed.parser.header, plain.parser.header);
  EXPECT_EQ(renamed.parser.sectors, plain.parser.sectors);
}

TEST(CfgParser, ARemovedKeyLineShiftsEveryLaterField) {
  // Without STB_PROJECT_SELECT, COMPRESS_FLAG's value lands in the project select byte and
  // ENCRYPT_FLAG's in the compress flag; the key, 18 characters, lands in the decimal encrypt
  // flag, which keeps nothing of it; its first digit is 0, so the key counts as read.
  Parsed p = Parse(kManufacturerCfg,
                   Replace(AppCfg(), "STB_PROJECT_SELECT \t= 2                     1\r\n", ""));
  EXPECT_EQ(p.Header(64, 67), (std::vector<uint8_t>{1, 1, 0}));
  EXPECT_EQ(p.warnings, "iTempOffset = 18\ncase 32 or case 13 Warning:bad format--cfg file!\n");
  EXPECT_EQ(HeaderPayloadLength(p.parser), 64);
  EXPECT_EQ(p.Header(67, 75), std::vector<uint8_t>(8, 0));

  // Without sector 0's MEMORY_TYPE line, its start is read as the memory type and every later
  // value moves up one field; the last sector is left without its size.
  Parsed q = Parse(kManufacturerCfg,
                   Replace(AppCfg(), "MEMORY_TYPE \t\t= 1\t\t\t\t1\r\nBLK1_START", "BLK1_START"));
  EXPECT_EQ(q.parser.sectors[0][2], 0);  // '0' of "0xA0050000"
  EXPECT_EQ(q.Start(0), 0x01000000u);    // "0X010000" in the 4-byte start field
  EXPECT_EQ(q.Size(0), 0u);              // "1" has no digit pair
  EXPECT_EQ(q.parser.sectors[1][2], 0);  // '0' of "0xA0060000"
  EXPECT_EQ(SectorCount(q.parser), 102);
  EXPECT_EQ(q.parser.sectors[101][0], 0);  // no size: the record was never completed
}

TEST(CfgParser, HexadecimalValuesGoLeastSignificantPairFirstIntoTheFieldsLastBytes) {
  Parsed shipped = Parse(kManufacturerCfg, std::string(HeaderConfigFor(kAllImage)->text));
  EXPECT_EQ(shipped.Payload(0, 1, 5),
            (std::vector<uint8_t>{0x00, 0x00, 0x05, 0xA0}));                        // 0xA0050000
  EXPECT_EQ(shipped.Payload(122, 5, 8), (std::vector<uint8_t>{0x00, 0x20, 0x00}));  // 0X002000

  const std::string total = "TRANS_TOTAL_SIZE        = 0x660000";
  struct Case {
    std::string value;
    std::vector<uint8_t> bytes;
  };
  for (const Case& c : {Case{"0x12", {0x00, 0x00, 0x12}}, Case{"0Xab12", {0x00, 0x12, 0xAB}},
                        Case{"0x123", {0x00, 0x00, 0x12}}, Case{"0x", {0x00, 0x00, 0x00}},
                        Case{"0x1g2345", {0x45, 0x23, 0x10}}}) {
    Parsed p = Parse(kManufacturerCfg, Replace(AppCfg(), total, "TRANS_TOTAL_SIZE = " + c.value));
    EXPECT_EQ(p.Header(61, 64), c.bytes) << c.value;
    EXPECT_EQ(HeaderPayloadLength(p.parser), 72) << c.value;
  }
}

TEST(CfgParser, DecimalValuesKeepTheLowByteOfUpToThreeDigits) {
  auto type_byte = [](const std::string& value) {
    Parsed p = Parse(kManufacturerCfg,
                     Replace(AppCfg(), "DOWNLOAD_TYPE\t \t= 8", "DOWNLOAD_TYPE = " + value));
    EXPECT_EQ(p.parser.header[60], 102) << "the next field stays in place after " << value;
    return std::make_pair(p.parser.header[59], p.warnings);
  };
  EXPECT_EQ(type_byte("255").first, 0xFF);
  EXPECT_EQ(type_byte("256").first, 0x00);
  EXPECT_EQ(type_byte("007").first, 7);
  EXPECT_EQ(
      type_byte("1234"),
      std::make_pair(
          uint8_t{0},
          std::string("iTempOffset = 4\ncase 32 or case 13 Warning:bad format--cfg file!\n")));

  Parsed p = Parse(kManufacturerCfg, Replace(AppCfg(), "MEMORY_TYPE \t\t= 1", "MEMORY_TYPE = 12"));
  EXPECT_EQ(p.parser.sectors[0][2], 1);
  EXPECT_EQ(p.Start(0), 0xA0050000u);
}

TEST(CfgParser, AValueIsOneWordAfterTheEqualsSign) {
  // Nothing between "=" and the width column: the width column is the value.
  Parsed blank = Parse(kManufacturerCfg, Replace(AppCfg(), "= 102 ", "=     "));
  EXPECT_EQ(blank.parser.header[60], 1);
  EXPECT_EQ(HeaderPayloadLength(blank.parser), 72);

  // A text value ends at a blank; the rest of its line is not read.
  Parsed spaced = Parse(Replace(kManufacturerCfg, "QUORVANE-LABS", "QUORVANE LABS"), AppCfg());
  EXPECT_EQ(spaced.Header(4, 19),
            (std::vector<uint8_t>{'Q', 'U', 'O', 'R', 'V', 'A', 'N', 'E', 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(spaced.Header(19, 27), (std::vector<uint8_t>{'S', 'T', 'I', '7', '1', '0', '0', 0}));
  EXPECT_EQ(spaced.warnings, "");

  // LF is an ordinary character: with LF-only line ends a value runs on into the next line,
  // up to the next "=", and the field sequence slips.
  Parsed unix_lines = Parse(kManufacturerCfg, "[H]\n\nDOWNLOAD_TYPE = 8\nPARTITION_COUNT = 102\n");
  EXPECT_EQ(unix_lines.warnings,
            "iTempOffset = 17\ncase 32 or case 13 Warning:bad format--cfg file!\n");
  EXPECT_EQ(HeaderPayloadLength(unix_lines.parser), 57);
}

TEST(CfgParser, FlagsChooseTheKeyAndTheSectorRecordForm) {
  Parsed unencrypted =
      Parse(kManufacturerCfg, Replace(AppCfg(), "ENCRYPT_FLAG \t\t= 1", "ENCRYPT_FLAG \t\t= 0"));
  EXPECT_EQ(unencrypted.warnings, "");
  EXPECT_EQ(HeaderPayloadLength(unencrypted.parser), 64);
  EXPECT_EQ(unencrypted.Header(67, 75), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(SectorCount(unencrypted.parser), 102);

  Parsed uncompressed =
      Parse(kManufacturerCfg, Replace(AppCfg(), "COMPRESS_FLAG\t\t= 1", "COMPRESS_FLAG\t\t= 0"));
  EXPECT_FALSE(uncompressed.parser.compressed);
  EXPECT_EQ(SectorPayloadLength(uncompressed.parser), 13);
  EXPECT_EQ(uncompressed.parser.sectors[0][1], 17);
  EXPECT_EQ(uncompressed.Size(101), 0x10000u);
}

TEST(CfgParser, MalformedTextGivesWarningsAndParsingGoesOn) {
  Parsed stray = Parse(kManufacturerCfg, "]" + AppCfg());
  EXPECT_EQ(stray.warnings, "case]->Warning:bad format--cfg file!\n");
  EXPECT_EQ(stray.parser.header, Parse(kManufacturerCfg, AppCfg()).parser.header);

  // A third section of the configuration file: each of its characters is reported.
  Parsed extra = Parse(kManufacturerCfg, AppCfg() + "[Notes]\r\nab");
  EXPECT_EQ(extra.warnings,
            "default-->Warning:bad format--cfg file!iCurrCfgBlock is 2\n"
            "default-->Warning:bad format--cfg file!iCurrCfgBlock is 2\n"
            "default-->Warning:bad format--cfg file!iCurrCfgBlock is 2\n"
            "default-->Warning:bad format--cfg file!iCurrCfgBlock is 2\n");
  EXPECT_EQ(SectorCount(extra.parser), 102);

  // A text longer than its field, and a size longer than its field.
  Parsed long_text = Parse(Replace(kManufacturerCfg, "HW1.20", "HW1.20-REV-B"), AppCfg());
  EXPECT_TRUE(long_text.parser.value_overran_field);
  EXPECT_TRUE(long_text.warnings.starts_with(
      "field len wrong!Warning:bad format--cfg file!\nCurrent Block is 0!\nRead Filed is 3\n"))
      << long_text.warnings;
  EXPECT_EQ(long_text.Header(27, 35),
            (std::vector<uint8_t>{'H', 'W', '1', '.', '2', '0', '-', 'R'}));

  Parsed long_size = Parse(kManufacturerCfg, Replace(AppCfg(), "BLK1_SIZE \t\t= 0X010000",
                                                     "BLK1_SIZE \t\t= 0X01000000"));
  EXPECT_TRUE(long_size.parser.value_overran_field);
  EXPECT_TRUE(long_size.warnings.starts_with(
      "field len wrong!Warning:bad format--cfg file!\nCurrent Block is 1!\nRead Filed is 2\n"
      "Current field_len is 3\n"))
      << long_size.warnings;
}

TEST(CfgParser, LimitsAreProblemsNeverWritesOutsideTheBuffers) {
  std::string many = "[H]\r\n[S]\r\n";
  for (int n = 0; n < 300; ++n)
    many += "M = 0\r\nS = 0xA0000000\r\nZ = 0X000010\r\n";
  Parsed too_many = Parse(kManufacturerCfg, many);
  EXPECT_EQ(too_many.parser.problem, "The cfg file lists more than 256 sectors!\n");
  EXPECT_EQ(too_many.Size(255), 0x10u);

  Parsed long_value =
      Parse(kManufacturerCfg, Replace(AppCfg(), "0x660000", "0x" + std::string(100, '6')));
  EXPECT_EQ(long_value.parser.problem, "A value in the cfg file is longer than 64 characters!\n");

  // Sixty digits in the start field would put their last pairs before the record's payload.
  Parsed backwards =
      Parse(kManufacturerCfg, Replace(AppCfg(), "0xA0050000", "0x" + std::string(60, 'A')));
  EXPECT_EQ(backwards.parser.problem, "A value in the cfg file runs outside the sector header!\n");
  EXPECT_EQ(backwards.parser.sectors[0][0], 0x22);  // tag and length keep their places
}

}  // namespace
}  // namespace qv::bintodld
