#include "sample/image_builder.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "download/crc32.h"
#include "download/download_file.h"
#include "download/record_format.h"
#include "image/manufacturer_block.h"
#include "image/partition_directory.h"
#include "platform/file.h"
#include "platform/little_endian.h"

namespace qv::sample {

namespace {

class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed * 2654435761u + 0x9E3779B9u) {
    if (state_ == 0) state_ = 1;
  }
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint32_t state_;
};

uint32_t RoundUp16(uint32_t value) {
  return (value + 15) & ~15u;
}

// A stand-in for a logo still: MPEG-2 start codes around noise-like bytes. The readers carry
// partitions as bytes, so any content does; the sample command puts real stills in.
std::vector<uint8_t> StillLikeBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes = CodeLikeBytes(size, seed);
  const uint8_t head[] = {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x23};
  const uint8_t tail[] = {0x00, 0x00, 0x01, 0xB7};
  std::copy(std::begin(head), std::end(head), bytes.begin());
  std::copy(std::begin(tail), std::end(tail), bytes.end() - 4);
  return bytes;
}

std::vector<uint8_t> TextBytes(const std::string& text) {
  return {text.begin(), text.end()};
}

void PutText(uint8_t* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(width, text.size()));
}

uint32_t CrcOfRange(std::span<const uint8_t> image, int64_t offset, uint32_t length) {
  uint32_t crc = kCrc32Initial;
  for (uint32_t i = 0; i < length; ++i) {
    int64_t at = offset + i;
    uint8_t byte = (at >= 0 && at < static_cast<int64_t>(image.size())) ? image[at] : 0xFF;
    crc = Crc32Update(crc, {&byte, 1});
  }
  return crc;
}

uint32_t CrcOf(std::span<const uint8_t> bytes) {
  return Crc32Update(kCrc32Initial, bytes);
}

}  // namespace

std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed) {
  Random random(seed);
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes)
    byte = static_cast<uint8_t>(random.Next() >> 24);
  return bytes;
}

std::vector<uint8_t> CodeLikeBytes(size_t size, uint32_t seed) {
  Random random(seed);
  std::array<uint32_t, 64> vocabulary;
  for (uint32_t& word : vocabulary)
    word = random.Next();
  std::vector<uint8_t> bytes(size);
  for (size_t chunk = 0; chunk < size; chunk += 256) {
    size_t end = std::min(size, chunk + 256);
    uint32_t kind = random.Below(100);
    for (size_t i = chunk; i < end; i += 4) {
      uint32_t word;
      if (kind < 60) {  // instructions: a small vocabulary, an immediate now and then
        word = vocabulary[random.Below(64)];
        if (random.Below(4) == 0) word = (word & 0xFFFFFF00u) | (random.Next() & 0xFF);
      } else if (kind < 75) {
        word = 0xFFFFFFFFu;  // erased flash
      } else if (kind < 85) {
        word = static_cast<uint32_t>(i / 4);  // tables
      } else {
        word = random.Next();  // packed, incompressible data
      }
      for (size_t k = 0; k < 4 && i + k < end; ++k)
        bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
    }
  }
  return bytes;
}

std::string SampleHttpCfg() {
  return "; HTTP software update settings of the box\r\n"
         "[Http Manual cfg]\r\n"
         "httpManualAddr=http://update.example.com/manual/\r\n"
         "\r\n"
         "[Http Auto cfg]\r\n"
         "httpAutoAddr=http://update.example.com/auto/\r\n"
         "RetryCount=3\r\n"
         "\r\n"
         "[Http Auto filename cfg]\r\n"
         "AutoApp=app_710X.dld\r\n"
         "AutoAll=all_710X.dld\r\n"
         "AutoData=data_710X.dld\r\n"
         "AutoDefault=default_710X.dld\r\n"
         "AutoKey=key_710X.dld\r\n";
}

uint32_t WindowAddress(Variant variant, uint32_t file_offset) {
  const VariantLayout* layout = LayoutOf(variant);
  uint32_t base = layout ? layout->area_base : 0;
  return kFlashWindow + kApplicationArea + file_offset - base;
}

ImageSpec DefaultImageSpec(Variant variant) {
  ImageSpec spec;
  spec.variant = variant;
  spec.seed = 1000 + variant;
  uint32_t s = spec.seed;
  spec.partitions = {
      {"appcode", CodeLikeBytes(0x280000, s + 1), 0, 0u, {}, {}, {}},
      {"fw_audio", CodeLikeBytes(0x0F8000, s + 2), 0, 0x280000u, {}, {}, {}},
      {"fw_video", CodeLikeBytes(0x17F000, s + 3), 1, 0x380000u, {}, {}, {}},
      {"boot", StillLikeBytes(14000, s + 4), 0, {}, {}, {}, {}},
      {"menu", StillLikeBytes(11000, s + 5), 1, {}, {}, {}, {}},
      {"radio", StillLikeBytes(9001, s + 6), 0, {}, {}, {}, {}},
      {"httpcfg", TextBytes(SampleHttpCfg()), 0, {}, {}, {}, {}},
      {"modelid", TextBytes("QV7100-S"), 0, {}, {}, {}, {}},
      {"dvb_cfg", CodeLikeBytes(700, s + 7), 0, {}, {}, {}, {}},
  };

  const VariantLayout& layout = *LayoutOf(variant);
  auto region = [&](uint8_t tag, uint32_t file_offset, uint32_t length, uint8_t flag) {
    return RegionSpec{tag, WindowAddress(variant, file_offset), length, flag, std::nullopt};
  };
  auto& regions = spec.manufacturer.regions;
  regions.push_back(region(1, layout.area_base + 0x000000, 0x280000, 1));  // appcode
  regions.push_back(region(2, layout.area_base + 0x280000, 0x0F8000, 1));  // fw_audio
  regions.push_back(region(3, layout.area_base + 0x380000, 0x17F000, 1));  // fw_video
  regions.push_back(region(4, layout.directory_offset, kDirectorySize, 1));
  regions.push_back(RegionSpec{5, 0xA0123450, 0x400, 2, 0x12345678});  // carried as it is
  if (variant != kAppImage) {
    regions.push_back(region(6, layout.key_region, kKeyRegionSize, 1));
    regions.push_back(region(7, layout.default_region, 0x8000, 1));
  }
  if (variant == kFullImage) regions.push_back(region(8, 0, 0x10000, 1));  // boot area
  return spec;
}

std::vector<uint8_t> BuildFlashImage(const ImageSpec& spec) {
  const VariantLayout* layout = LayoutOf(spec.variant);
  if (!layout) throw std::invalid_argument("BuildFlashImage: variant must be 5, 6 or 7");
  std::vector<uint8_t> image(layout->file_size, 0xFF);
  uint32_t s = spec.seed;

  if (spec.variant == kFullImage) {
    std::vector<uint8_t> boot = CodeLikeBytes(0x40000, s + 11);
    std::copy(boot.begin(), boot.end(), image.begin());
  }
  for (int i = 0; i < layout->preserved_count; ++i) {
    const FileRange& range = layout->preserved[i];
    std::vector<uint8_t> bytes = CodeLikeBytes(range.length, s + 20 + i);
    std::copy(bytes.begin(), bytes.end(), image.begin() + range.offset);
  }
  if (spec.variant != kAppImage) {
    std::vector<uint8_t> key = RandomBytes(600, s + 30);
    std::copy(key.begin(), key.end(), image.begin() + layout->key_region);
    std::vector<uint8_t> database = CodeLikeBytes(0x30000, s + 31);
    std::copy(database.begin(), database.end(), image.begin() + layout->default_region);
  }

  // Partitions and directory.
  std::vector<uint8_t> directory(kDirectorySize, 0xFF);
  uint32_t cursor = 0;
  for (size_t i = 0; i < spec.partitions.size(); ++i) {
    const PartitionSpec& part = spec.partitions[i];
    uint32_t offset = part.offset.value_or(RoundUp16(cursor));
    size_t at = layout->area_base + offset;
    if (at + part.data.size() > image.size())
      throw std::invalid_argument("partition past the image: " + part.name);
    std::copy(part.data.begin(), part.data.end(), image.begin() + at);
    cursor = offset + static_cast<uint32_t>(part.data.size());

    if (i >= kMaxEntries) continue;
    DirectoryEntry entry{};
    entry.offset = offset;
    entry.length_selector = part.length_selector;
    uint32_t size = static_cast<uint32_t>(part.data.size());
    entry.first_length = part.first_length.value_or(part.length_selector == 1 ? size : 0);
    entry.second_length = part.second_length.value_or(part.length_selector == 1 ? 0 : size);
    entry.SetName(part.name);
    if (part.raw_name) entry.name = *part.raw_name;
    entry.further.fill(0);
    EncodeEntry(entry, std::span(directory).subspan(i * kEntrySize).first<kEntrySize>());
  }
  uint32_t count = spec.entry_count.value_or(static_cast<uint32_t>(spec.partitions.size()));
  WriteLe32(&directory[kMaxEntries * kEntrySize], count);
  std::copy(directory.begin(), directory.end(), image.begin() + layout->directory_offset);

  // Manufacturer block, last: its region CRCs cover the finished image.
  const ManufacturerSpec& maker = spec.manufacturer;
  std::vector<uint8_t> block(kManufacturerBlockSize, 0xFF);
  block[0] = maker.ident_nocheck;
  PutText(&block[1], 15, maker.manufacture_ident);
  PutText(&block[16], 8, maker.hardware_module);
  PutText(&block[24], 8, maker.hardware_version);
  PutText(&block[32], 8, maker.software_module);
  PutText(&block[40], 8, maker.software_version);
  WriteLe64(&block[48], maker.stb_id);
  std::copy(maker.bytes56_to_71.begin(), maker.bytes56_to_71.end(), block.begin() + 56);
  block[57] = maker.region_count.value_or(static_cast<uint8_t>(maker.regions.size()));
  int64_t window = int64_t{kFlashWindow} + kApplicationArea - layout->area_base;
  for (size_t i = 0; i < maker.regions.size() && i < kRegionRecordsOnFlash; ++i) {
    const RegionSpec& region = maker.regions[i];
    uint8_t* record = &block[kRegionRecordOffset + kRegionRecordSize * i];
    record[0] = region.tag;
    WriteLe32(record + 1, region.start);
    WriteLe24(record + 5, region.length);
    record[8] = region.check_flag;
    uint32_t crc =
        region.crc.value_or(CrcOfRange(image, int64_t{region.start} - window, region.length));
    WriteLe32(record + 9, crc);
  }
  std::copy(block.begin(), block.end(), image.begin() + layout->manufacturer_offset);
  uint32_t block_crc = Crc32(&image[layout->manufacturer_offset], kBlockCrcOffset);
  WriteLe32(&image[layout->manufacturer_offset + kBlockCrcOffset], block_crc);
  return image;
}

DownloadSpec DownloadSpecFor(const ImageSpec& spec) {
  const ManufacturerSpec& maker = spec.manufacturer;
  DownloadSpec download;
  download.variant = spec.variant;
  uint8_t* id = download.identity.data();
  id[0] = maker.ident_nocheck;
  PutText(id + 1, 15, maker.manufacture_ident);
  PutText(id + 16, 8, maker.hardware_module);
  PutText(id + 24, 8, maker.hardware_version);
  PutText(id + 32, 8, maker.software_module);
  PutText(id + 40, 8, maker.software_version);
  WriteLe64(id + 48, maker.stb_id);
  download.download_type = spec.variant == kAppImage ? 8 : spec.variant == kAllImage ? 9 : 11;
  return download;
}

std::vector<uint8_t> BuildDownload(std::span<const uint8_t> image, const DownloadSpec& spec) {
  EnsureLzoReady();
  const Variant variant = spec.variant;
  const int sectors = BlockCount(variant);
  std::vector<uint8_t> out(kHeaderRecordSize, 0);
  const RecordFormat& header_format = FormatOf(RecordType::kHeader);
  out[0] = header_format.tag;
  WriteLe(&out[1], kHeaderPayloadSize + 4, header_format.length_width);
  std::copy(spec.identity.begin(), spec.identity.end(), out.begin() + 3);
  out[59] = spec.download_type;
  out[60] = spec.partition_count.value_or(static_cast<uint8_t>(sectors));
  out[64] = spec.project_select;
  out[65] = spec.compress_flag;
  out[66] = spec.encrypt_flag;
  WriteLe64(&out[67], spec.encrypt_key);

  std::vector<uint8_t> work(LZO1X_1_MEM_COMPRESS);
  std::vector<uint8_t> sector;
  std::vector<uint8_t> packed;
  for (int n = 0; n < sectors; ++n) {
    uint32_t offset = static_cast<uint32_t>(BlockFileOffset(variant, static_cast<uint8_t>(n)));
    uint32_t size = BlockSize(variant, n);
    sector.assign(size, 0xFF);
    if (offset < image.size()) {
      size_t available = std::min<size_t>(size, image.size() - offset);
      std::copy_n(image.begin() + offset, available, sector.begin());
    }
    uint32_t flash = BlockStart(variant, n);
    if (variant == kKeyDownload) flash += 0x710000;
    if (variant == kDefaultDownload) flash += 0x720000;
    uint8_t memory_type = (flash >= kApplicationArea && flash < 0x6B0000) ? 1 : 0;

    std::vector<uint8_t> header;
    if (spec.compress_flag != 0) {
      packed.resize(size + size / 16 + 64 + 3);
      lzo_uint packed_size = 0;
      lzo1x_1_compress(sector.data(), size, packed.data(), &packed_size, work.data());
      packed.resize(packed_size);
      header.assign(2 + 20 + 4, 0);
      header[0] = kSectorHeaderTag;
      header[1] = 24;
      header[2] = memory_type;
      WriteLe32(&header[3], kFlashWindow + flash);
      WriteLe24(&header[7], size);
      WriteLe32(&header[10], CrcOf(sector));
      WriteLe24(&header[14], static_cast<uint32_t>(packed_size));
      WriteLe32(&header[17], CrcOf(packed));
      header[21] = static_cast<uint8_t>((packed_size + 8 + 999) / 1000);
    } else {
      packed = sector;
      header.assign(2 + 13 + 4, 0);
      header[0] = kSectorHeaderTag;
      header[1] = 17;
      header[2] = memory_type;
      WriteLe32(&header[3], kFlashWindow + flash);
      WriteLe24(&header[7], size);
      WriteLe32(&header[10], CrcOf(sector));
      header[14] = static_cast<uint8_t>((size + 8 + 999) / 1000);
    }
    size_t payload = header[1] - 4;
    WriteLe32(&header[2 + payload], CrcOf(std::span(header).subspan(2, payload)));
    out.insert(out.end(), header.begin(), header.end());

    const RecordFormat& data_format = FormatOf(RecordType::kSectorData);
    uint8_t head[4] = {data_format.tag, 0, 0, 0};
    WriteLe(head + 1, packed.size() + 4, data_format.length_width);
    out.insert(out.end(), head, head + 4);
    out.insert(out.end(), packed.begin(), packed.end());
    uint8_t crc[4];
    WriteLe32(crc, CrcOf(packed));
    out.insert(out.end(), crc, crc + 4);
  }
  WriteLe24(&out[kTotalSizeOffset], static_cast<uint32_t>(out.size()));
  WriteLe32(&out[kHeaderCrcOffset], Crc32(&out[3], kHeaderPayloadSize));
  return out;
}

}  // namespace qv::sample
