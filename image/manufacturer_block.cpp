#include "image/manufacturer_block.h"

#include <algorithm>
#include <cstdio>

#include "download/crc32.h"
#include "image/variant.h"
#include "platform/hex.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

uint32_t Repeated(uint8_t byte) {
  return 0x01010101u * byte;
}

template <size_t N>
void CopyField(std::span<const uint8_t> bytes, size_t offset, std::array<uint8_t, N>& field) {
  std::copy_n(bytes.begin() + offset, N, field.begin());
}

template <size_t N>
void PutField(const std::array<uint8_t, N>& field, std::span<uint8_t> bytes, size_t offset) {
  std::copy(field.begin(), field.end(), bytes.begin() + offset);
}

// The flash window address of a file's first byte: 0xA0050000 for app and all images,
// 0xA0000000 for full images.
int64_t WindowOfFileStart(const VariantLayout& layout) {
  return int64_t{kFlashWindow} + kApplicationArea - layout.area_base;
}

// Continues `crc` over `length` bytes of `image` from `offset`, bytes outside it taken as 0xFF.
uint32_t CrcOverRange(uint32_t crc, std::span<const uint8_t> image, int64_t offset,
                      uint64_t length) {
  static const std::array<uint8_t, 0x10000> kErased = [] {
    std::array<uint8_t, 0x10000> erased;
    erased.fill(0xFF);
    return erased;
  }();
  const int64_t size = static_cast<int64_t>(image.size());
  for (uint64_t done = 0; done < length;) {
    const int64_t at = offset + static_cast<int64_t>(done);
    uint64_t piece;
    if (at >= 0 && at < size) {
      piece = std::min<uint64_t>(length - done, static_cast<uint64_t>(size - at));
      crc = Crc32Update(crc, image.subspan(static_cast<size_t>(at), piece));
    } else {
      // Outside the image: erased bytes, up to the image's start when the range begins before it.
      uint64_t outside = at < 0 ? static_cast<uint64_t>(-at) : length - done;
      piece = std::min<uint64_t>({length - done, outside, kErased.size()});
      crc = Crc32Update(crc, std::span(kErased).first(piece));
    }
    done += piece;
  }
  return crc;
}

}  // namespace

void ManufacturerBlock::Fill(uint8_t byte) {
  ident_nocheck = byte;
  for (auto* field : {&hardware_module, &hardware_version, &software_module, &software_version,
                      &stb_id, &eight_bytes}) {
    field->fill(byte);
  }
  manufacture_ident.fill(byte);
  byte56 = region_count = byte;
  number24 = Repeated(byte);
  byte61 = byte62 = byte63 = byte;
  for (RegionRecord& region : regions) {
    region = {byte, Repeated(byte), Repeated(byte), byte, Repeated(byte)};
  }
  block_crc = Repeated(byte);
}

void ManufacturerBlock::Decode(std::span<const uint8_t, kManufacturerBlockSize> bytes) {
  Fill(0);
  ident_nocheck = bytes[0];
  CopyField(bytes, 1, manufacture_ident);
  CopyField(bytes, 16, hardware_module);
  CopyField(bytes, 24, hardware_version);
  CopyField(bytes, 32, software_module);
  CopyField(bytes, 40, software_version);
  CopyField(bytes, 48, stb_id);
  byte56 = bytes[56];
  region_count = bytes[57];
  number24 = ReadLe24(&bytes[58]);
  byte61 = bytes[61];
  byte62 = bytes[62];
  byte63 = bytes[63];
  CopyField(bytes, 64, eight_bytes);
  for (int i = 0; i < kRegionRecordsOnFlash; ++i) {
    const uint8_t* record = &bytes[kRegionRecordOffset + kRegionRecordSize * i];
    regions[i] = {record[0], ReadLe32(record + 1), ReadLe24(record + 5), record[8],
                  ReadLe32(record + 9)};
  }
  block_crc = ReadLe32(&bytes[kBlockCrcOffset]);
}

void ManufacturerBlock::EncodeFields(std::span<uint8_t, kManufacturerBlockSize> bytes) const {
  bytes[0] = ident_nocheck;
  PutField(manufacture_ident, bytes, 1);
  PutField(hardware_module, bytes, 16);
  PutField(hardware_version, bytes, 24);
  PutField(software_module, bytes, 32);
  PutField(software_version, bytes, 40);
  PutField(stb_id, bytes, 48);
  bytes[56] = byte56;
  bytes[57] = region_count;
  WriteLe24(&bytes[58], number24);
  bytes[61] = byte61;
  bytes[62] = byte62;
  bytes[63] = byte63;
  PutField(eight_bytes, bytes, 64);
  for (int i = 0; i < kRegionRecordsOnFlash; ++i) {
    uint8_t* record = &bytes[kRegionRecordOffset + kRegionRecordSize * i];
    record[0] = regions[i].tag;
    WriteLe32(record + 1, regions[i].start);
    WriteLe24(record + 5, regions[i].length);
    record[8] = regions[i].check_flag;
    WriteLe32(record + 9, regions[i].crc);
  }
}

int ManufacturerBlock::CheckedRegionCount() const {
  return std::min<int>(region_count, kRegionRecordsOnFlash);
}

uint32_t RegionCrcInImage(std::span<const uint8_t> image, const VariantLayout& layout,
                          const RegionRecord& region) {
  return CrcOverRange(kCrc32Initial, image, int64_t{region.start} - WindowOfFileStart(layout),
                      region.length);
}

uint32_t BlockCrcInImage(std::span<const uint8_t> image, const VariantLayout& layout) {
  return CrcOverRange(kCrc32Initial, image, layout.manufacturer_offset, kBlockCrcOffset);
}

const char* RegionStateName(RegionState state) {
  switch (state) {
    case RegionState::kMatches:
      return "matches";
    case RegionState::kDiffers:
      return "differs";
    case RegionState::kNotChecked:
      return "not checked";
    case RegionState::kOutside:
      break;
  }
  return "outside";
}

std::vector<RegionCheck> CheckRegions(std::span<const uint8_t> image, const VariantLayout& layout,
                                      const ManufacturerBlock& block) {
  std::vector<RegionCheck> checks;
  for (int i = 0; i < block.CheckedRegionCount(); ++i) {
    const RegionRecord& region = block.regions[i];
    const int64_t offset = int64_t{region.start} - WindowOfFileStart(layout);
    const bool inside = offset >= 0 && offset + region.length <= int64_t{layout.file_size};
    if (!inside) {
      checks.push_back({i, RegionState::kOutside, 0});
      continue;
    }
    const uint32_t crc = RegionCrcInImage(image, layout, region);
    const RegionState state = region.check_flag != 1 ? RegionState::kNotChecked
                              : crc == region.crc    ? RegionState::kMatches
                                                     : RegionState::kDiffers;
    checks.push_back({i, state, crc});
  }
  return checks;
}

std::vector<std::string> DescribeDamage(std::span<const uint8_t> image, const VariantLayout& layout,
                                        const ManufacturerBlock& block) {
  std::vector<std::string> damage;
  for (const RegionCheck& check : CheckRegions(image, layout, block)) {
    if (check.state != RegionState::kDiffers) continue;
    const RegionRecord& region = block.regions[check.index];
    damage.push_back("region " + std::to_string(check.index) + " (flash " + Hex(region.start, 8) +
                     ", " + Hex(region.length) + " bytes): recorded CRC " + Hex(region.crc, 8) +
                     ", its bytes give " + Hex(check.image_crc, 8));
  }
  const uint32_t block_crc = BlockCrcInImage(image, layout);
  if (block_crc != block.block_crc) {
    damage.push_back("the manufacturer block at file offset " + Hex(layout.manufacturer_offset) +
                     ": recorded CRC " + Hex(block.block_crc, 8) + ", its bytes give " +
                     Hex(block_crc, 8));
  }
  return damage;
}

std::string FieldText(std::span<const uint8_t> field) {
  auto end = std::find(field.begin(), field.end(), uint8_t{0});
  return std::string(field.begin(), end);
}

std::array<std::string, kManufacturerCfgLineCount> ManufacturerCfgLines(
    const ManufacturerBlock& block) {
  char stb_id[19];
  std::snprintf(stb_id, sizeof stb_id, "0x%016llX",
                static_cast<unsigned long long>(ReadLe64(block.stb_id.data())));
  return {
      "[Manufacturer_Data]",
      "",
      "IDENT_NOCHECH\t \t= " + std::to_string(block.ident_nocheck) + "\t        \t1",
      "MANUFACTURE_IDENT \t= " + FieldText(block.manufacture_ident) + "\t\t\t15",
      "HARDWARE_MODULE \t= " + FieldText(block.hardware_module) + "          \t8",
      "HARDWARE_VERSION \t= " + FieldText(block.hardware_version) + "         \t\t8",
      "SOFTWARE_MODULE \t= " + FieldText(block.software_module) + "            \t8",
      "SOFTWARE_VERSION \t= " + FieldText(block.software_version) + "        \t8",
      std::string("STB_ID\t\t\t= ") + stb_id + "\t8",
  };
}

void SealManufacturerBlock(ManufacturerBlock& block, const VariantLayout& layout,
                           std::span<uint8_t> image) {
  for (int i = 0; i < block.CheckedRegionCount(); ++i) {
    RegionRecord& region = block.regions[i];
    if (region.check_flag == 1) region.crc = RegionCrcInImage(image, layout, region);
  }

  // Bytes 0 to 71 and the region records; bytes 1762 to 4091 stay as the image has them.
  std::span<uint8_t, kManufacturerBlockSize> bytes =
      image.subspan(layout.manufacturer_offset).first<kManufacturerBlockSize>();
  std::array<uint8_t, kManufacturerBlockSize> fields;
  block.EncodeFields(fields);
  constexpr size_t kFieldsEnd = kRegionRecordOffset + kRegionRecordSize * kRegionRecordsOnFlash;
  std::copy_n(fields.begin(), kFieldsEnd, bytes.begin());

  block.block_crc = Crc32(bytes.data(), kBlockCrcOffset);
  WriteLe32(&bytes[kBlockCrcOffset], block.block_crc);
}

}  // namespace qv
