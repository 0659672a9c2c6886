#include "workfiles/header_identity.h"

#include <algorithm>
#include <sstream>

#include "bintodld/cfg_parser.h"

namespace qv {

namespace {

struct IdentityField {
  const char* name;
  int offset;  // in the header payload, as in the manufacturer block
  int width;
};

constexpr std::array<IdentityField, 7> kIdentityFields{{
    {.name = "IDENT_NOCHECH", .offset = 0, .width = 1},
    {.name = "MANUFACTURE_IDENT", .offset = 1, .width = 15},
    {.name = "HARDWARE_MODULE", .offset = 16, .width = 8},
    {.name = "HARDWARE_VERSION", .offset = 24, .width = 8},
    {.name = "SOFTWARE_MODULE", .offset = 32, .width = 8},
    {.name = "SOFTWARE_VERSION", .offset = 40, .width = 8},
    {.name = "STB_ID", .offset = 48, .width = 8},
}};

template <size_t N>
void PutText(const std::array<uint8_t, N>& field, uint8_t* out) {
  const std::string text = FieldText(field);
  std::copy(text.begin(), text.end(), out);
}

}  // namespace

std::array<uint8_t, 56> HeaderIdentity(const ManufacturerBlock& block) {
  std::array<uint8_t, 56> identity{};
  identity[0] = block.ident_nocheck;
  PutText(block.manufacture_ident, &identity[1]);
  PutText(block.hardware_module, &identity[16]);
  PutText(block.hardware_version, &identity[24]);
  PutText(block.software_module, &identity[32]);
  PutText(block.software_version, &identity[40]);
  std::copy(block.stb_id.begin(), block.stb_id.end(), &identity[48]);
  return identity;
}

std::optional<std::string> FieldTheHeaderCannotCarry(const ManufacturerBlock& block) {
  std::string cfg;
  for (const std::string& line : ManufacturerCfgLines(block))
    cfg += line + "\r\n";
  bintodld::CfgParser parser;
  bintodld::BeginCfgFile(parser, bintodld::CfgFile::kManufacturer);
  std::ostringstream trace;
  bintodld::ParseCfgText(parser, cfg, trace);

  const std::array<uint8_t, 56> expected = HeaderIdentity(block);
  const uint8_t* parsed = &parser.header[bintodld::kHeaderPayloadStart];
  for (const IdentityField& field : kIdentityFields) {
    if (!std::equal(parsed + field.offset, parsed + field.offset + field.width,
                    expected.begin() + field.offset)) {
      return field.name;
    }
  }
  // One "=" more or fewer would move every later field of the header.
  if (parser.field != static_cast<int>(kIdentityFields.size()) - 1 || !parser.problem.empty())
    return kIdentityFields.back().name;
  return std::nullopt;
}

}  // namespace qv
