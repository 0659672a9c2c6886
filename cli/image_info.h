#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "image/manufacturer_block.h"
#include "image/partition_directory.h"
#include "image/settings.h"
#include "image/variant.h"
#include "platform/result.h"

// What `quorvane info` shows of an image: read-only, from a flash image or a download file.
namespace qv::cli {

struct RegionInfo {
  RegionRecord record;
  uint32_t image_crc;  // the CRC of the region's bytes in the image, erased bytes outside it
  RegionState state;
};

// A logo partition and the still it holds.
struct LogoInfo {
  std::string partition;     // "boot", "menu" or "radio"
  std::optional<int> index;  // the directory entry that holds it (the last of the name)
  bool still = false;        // it decodes as an MPEG-2 still
  int32_t width = 0;         // the decoded picture's size
  int32_t height = 0;
};

struct ImageInfo {
  std::string file_name;  // the path as given
  int64_t file_size = 0;
  bool is_download = false;
  Variant variant = kUnrecognised;
  int32_t partition_count = 0;
  uint32_t directory_offset = 0;
  uint32_t manufacturer_offset = 0;
  PartitionDirectory directory{};
  // Per usable entry: the CRC-32 of the partition's bytes; nothing for one outside the image.
  std::vector<std::optional<uint32_t>> partition_crcs;
  ManufacturerBlock manufacturer{};
  std::vector<RegionInfo> regions;     // the first region-count records, at most 130
  uint32_t image_block_crc = 0;        // the CRC of block bytes 0 to 4091 in the image
  std::string model_id;                // up to its first zero byte
  HttpSettings http;                   // the seven HTTP settings
  std::vector<LogoInfo> logos;         // boot, menu, radio, for an image that parsed
  std::optional<std::string> problem;  // a directory that is unsafe to build from
  bool damaged = false;                // a checked region's CRC or the block CRC differs
};

// Reads the image at `path` (a download file is converted in memory). Fails for a file that is
// not an image the tool handles; an image whose directory is unsafe to build from is shown as
// far as it can be, with the problem.
[[nodiscard]] Result<ImageInfo> GatherImageInfo(const std::string& path);

void PrintImageInfo(const ImageInfo& info, std::ostream& out);
void PrintImageInfoJson(const ImageInfo& info, std::ostream& out);

}  // namespace qv::cli
