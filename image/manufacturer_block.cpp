#include "image/manufacturer_block.h"

#include <algorithm>
#include <cstdio>

#include "app/job_state.h"
#include "download/crc32.h"
#include "image/variant.h"
#include "platform/file.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

constexpr uint32_t kCrcPiece = 0x10000;  // regions are read and checked 64 KiB at a time

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

uint32_t RegionCrcInImage(const File& image, const VariantLayout& layout,
                          const RegionRecord& region) {
  const int64_t offset = int64_t{region.start} - WindowOfFileStart(layout);
  const int64_t file_size = image.Size();
  std::vector<uint8_t> buffer(kCrcPiece);
  uint32_t crc = kCrc32Initial;
  for (uint32_t done = 0; done < region.length;) {
    uint32_t piece = std::min(kCrcPiece, region.length - done);
    std::fill_n(buffer.begin(), piece, 0xFF);
    int64_t from = offset + done;
    int64_t first = std::max<int64_t>(from, 0);
    int64_t last = std::min<int64_t>(from + piece, file_size);
    if (first < last) {
      image.ReadAt(first, std::span(buffer).subspan(static_cast<size_t>(first - from),
                                                    static_cast<size_t>(last - first)));
    }
    crc = Crc32Update(crc, std::span(buffer).first(piece));
    done += piece;
  }
  return crc;
}

std::string FieldText(std::span<const uint8_t> field) {
  auto end = std::find(field.begin(), field.end(), uint8_t{0});
  return std::string(field.begin(), end);
}

void ReadManufacturerBlock(JobState& job, const std::string& path) {
  const VariantLayout* layout = LayoutOf(VariantFromPartitionCount(job.partition_count));
  if (!layout) return;
  std::array<uint8_t, kManufacturerBlockSize> bytes{};
  File file = File::Open(path, File::Mode::kRead);
  file.ReadAt(layout->manufacturer_offset, bytes);
  job.manufacturer.Decode(bytes);
}

void BuildManufacturerCfgLines(JobState& job) {
  const ManufacturerBlock& block = job.manufacturer;
  char stb_id[19];
  std::snprintf(stb_id, sizeof stb_id, "0x%016llX",
                static_cast<unsigned long long>(ReadLe64(block.stb_id.data())));

  auto& lines = job.manufacturer_cfg_lines;
  lines[0] = "[Manufacturer_Data]";
  lines[1] = "";
  lines[2] = "IDENT_NOCHECH\t \t= " + std::to_string(block.ident_nocheck) + "\t        \t1";
  lines[3] = "MANUFACTURE_IDENT \t= " + FieldText(block.manufacture_ident) + "\t\t\t15";
  lines[4] = "HARDWARE_MODULE \t= " + FieldText(block.hardware_module) + "          \t8";
  lines[5] = "HARDWARE_VERSION \t= " + FieldText(block.hardware_version) + "         \t\t8";
  lines[6] = "SOFTWARE_MODULE \t= " + FieldText(block.software_module) + "            \t8";
  lines[7] = "SOFTWARE_VERSION \t= " + FieldText(block.software_version) + "        \t8";
  lines[8] = std::string("STB_ID\t\t\t= ") + stb_id + "\t8";
}

bool WriteManufacturerBlock(JobState& job, const std::string& merged_path) {
  const VariantLayout* layout = LayoutOf(VariantFromPartitionCount(job.partition_count));
  if (!layout) return false;
  ManufacturerBlock& block = job.manufacturer;
  File file = File::Open(merged_path, File::Mode::kReadWrite);
  for (int i = 0; i < block.CheckedRegionCount(); ++i) {
    RegionRecord& region = block.regions[i];
    if (region.check_flag == 1) region.crc = RegionCrcInImage(file, *layout, region);
  }

  // Bytes 0 to 71 and the region records; bytes 1762 to 4091 are left as the file has them.
  std::array<uint8_t, kManufacturerBlockSize> bytes;
  bytes.fill(0xFF);
  block.EncodeFields(bytes);
  constexpr size_t kFieldsEnd = kRegionRecordOffset + kRegionRecordSize * kRegionRecordsOnFlash;
  file.WriteAt(layout->manufacturer_offset, std::span(bytes).first(kFieldsEnd));

  bytes.fill(0xFF);
  file.ReadAt(layout->manufacturer_offset, std::span(bytes).first(kBlockCrcOffset));
  block.block_crc = Crc32(bytes.data(), kBlockCrcOffset);
  uint8_t crc_bytes[4];
  WriteLe32(crc_bytes, block.block_crc);
  file.WriteAt(layout->manufacturer_offset + kBlockCrcOffset, crc_bytes);
  return true;
}

}  // namespace qv
