#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/variant.h"

// Builds self-consistent flash images of the three variants, and download files of them: the
// images `quorvane sample` writes, and those the tests, benchmarks and fuzzers start from.
// Start from DefaultImageSpec() and change the one field that matters.
namespace qv::sample {

struct PartitionSpec {
  std::string name;
  std::vector<uint8_t> data;
  uint32_t length_selector = 0;  // 1: the length goes into the first length field
  // Offset relative to flash 0x050000; by default right after the previous partition,
  // rounded up to 16.
  std::optional<uint32_t> offset;
  // Length fields as stored; by default data.size() in the selected field and 0 in the other.
  std::optional<uint32_t> first_length;
  std::optional<uint32_t> second_length;
  // The raw 16-byte name field instead of `name` (for names without a zero byte and such).
  std::optional<std::array<uint8_t, 16>> raw_name;
};

struct RegionSpec {
  uint8_t tag = 0;
  uint32_t start = 0;  // flash window address
  uint32_t length = 0;
  uint8_t check_flag = 1;
  std::optional<uint32_t> crc;  // by default the CRC of the region's bytes in the image
};

struct ManufacturerSpec {
  uint8_t ident_nocheck = 1;
  std::string manufacture_ident = "QUORVANE-LABS";
  std::string hardware_module = "STI7100";
  std::string hardware_version = "HW1.20";
  std::string software_module = "QVBOX";
  std::string software_version = "SW2.0.7";
  uint64_t stb_id = 0x0000000000020003;
  std::vector<RegionSpec> regions;
  std::optional<uint8_t> region_count;  // by default regions.size()
  std::array<uint8_t, 16> bytes56_to_71 = {9,    0,    0,    0,    0,    2,    1,    1,
                                           0x8F, 0x42, 0x7B, 0xE0, 0xC1, 0x96, 0x3A, 0x5D};
};

struct ImageSpec {
  Variant variant = kAllImage;
  std::vector<PartitionSpec> partitions;
  std::optional<uint32_t> entry_count;  // by default partitions.size()
  ManufacturerSpec manufacturer;
  uint32_t seed = 1;
};

// Realistic content: code-like data with erased (0xFF) and incompressible stretches.
std::vector<uint8_t> CodeLikeBytes(size_t size, uint32_t seed);
// Uniformly random bytes.
std::vector<uint8_t> RandomBytes(size_t size, uint32_t seed);

// The standard httpcfg.ini text of the sample images (CR LF lines, with a comment and a key
// that the tool does not know).
std::string SampleHttpCfg();

// An image of the variant with "appcode", "fw_audio", "fw_video", "boot", "menu", "radio",
// "httpcfg", "modelid" and a further partition the tool does not know, and manufacturer
// regions over the large partitions (check flag 1) and one carried region (flag 2).
ImageSpec DefaultImageSpec(Variant variant);

// The flash image that `spec` describes: erased space, boot area (full images), partitions,
// directory, preserved ranges, key and default database regions (all and full images), and
// the manufacturer block with correct region CRCs and block CRC.
std::vector<uint8_t> BuildFlashImage(const ImageSpec& spec);

struct DownloadSpec {
  Variant variant = kAllImage;         // layout the sectors follow: 0, 1, 5, 6 or 7
  std::array<uint8_t, 56> identity{};  // header bytes 3 to 58 as the manufacturer block gives them
  uint8_t download_type = 9;
  std::optional<uint8_t> partition_count;  // by default the variant's sector count
  uint8_t project_select = 2;
  uint8_t compress_flag = 1;
  uint8_t encrypt_flag = 1;
  uint64_t encrypt_key = 0x5D3A96C1E07B428Full;
};

// The download spec that matches a flash image built from `spec` (identity from its
// manufacturer block, download type 8, 9 or 11).
DownloadSpec DownloadSpecFor(const ImageSpec& spec);

// A download file of `image` (file bytes in the variant's layout), every sector compressed with
// LZO1X-1, with the total size and header CRC patched in.
std::vector<uint8_t> BuildDownload(std::span<const uint8_t> image, const DownloadSpec& spec);

// Flash window address of a file offset in an image of the variant.
uint32_t WindowAddress(Variant variant, uint32_t file_offset);

}  // namespace qv::sample
