#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "image/manufacturer_block.h"
#include "image/partition_directory.h"
#include "image/variant.h"

// What `quorvane info` shows of an image: read-only, from a flash image or a download file.
namespace qv::cli {

struct RegionInfo {
  RegionRecord record;
  uint32_t image_crc;  // the CRC of the region's bytes in the image
};

struct ImageInfo {
  bool is_download = false;
  Variant variant = kUnrecognised;
  int32_t partition_count = 0;
  uint32_t directory_offset = 0;
  uint32_t manufacturer_offset = 0;
  PartitionDirectory directory{};
  ManufacturerBlock manufacturer{};
  std::vector<RegionInfo> regions;     // the first region-count records, at most 130
  uint32_t image_block_crc = 0;        // the CRC of block bytes 0 to 4091 in the image
  std::string model_id;                // up to its first zero byte
  std::array<std::string, 7> http;     // the seven HTTP settings, kinds 1 to 7
  std::optional<std::string> problem;  // a directory that is unsafe to build from
};

// Reads the image at `path` (a download file is converted in a private temporary directory).
// Returns nothing, with `error` set, for a file that is not an image the tool handles.
std::optional<ImageInfo> GatherImageInfo(const std::string& path, std::string& error);

void PrintImageInfo(const ImageInfo& info, std::ostream& out);
void PrintImageInfoJson(const ImageInfo& info, std::ostream& out);

}  // namespace qv::cli
