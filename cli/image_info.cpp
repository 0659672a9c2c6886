#include "cli/image_info.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "app/job_state.h"
#include "download/crc32.h"
#include "download/download_file.h"
#include "image/partitions.h"
#include "image/settings.h"
#include "platform/file.h"
#include "platform/hex.h"
#include "platform/ini_profile.h"
#include "platform/io_error.h"

#include <nlohmann/json.hpp>

namespace qv::cli {

namespace {

bool EndsWithDld(const std::string& path) {
  return EqualsIgnoringCase(ExtensionOf(path), ".dld");
}

// A private directory for the converted image of a download file, removed afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "quorvane-info-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const char* VariantName(Variant variant) {
  switch (variant) {
    case kAppImage:
      return "app image";
    case kAllImage:
      return "all image";
    case kFullImage:
      return "full image";
    default:
      return "unrecognised";
  }
}

}  // namespace

std::optional<ImageInfo> GatherImageInfo(const std::string& path, std::string& error) {
  ImageInfo info;
  info.is_download = EndsWithDld(path);
  ScratchDirectory scratch;
  std::string image_path = path;
  if (info.is_download) {
    std::optional<uint8_t> count = ReadPartitionCountByte(path);
    if (!count) {
      error = "the download file is shorter than its 79-byte header";
      return std::nullopt;
    }
    info.partition_count = *count;
    info.variant = VariantFromPartitionCount(info.partition_count);
    if (info.variant == kUnrecognised) {
      error = "the download file's partition count is " + std::to_string(*count) +
              ", not 102, 130 or 142";
      return std::nullopt;
    }
    if (scratch.path().empty()) throw IoError("I/O error: no temporary directory");
    image_path = scratch.path() + "/Temp_DldToBin.bin";
    ConversionResult result = ConvertDownload(path, info.variant, image_path);
    if (!result) {
      error = "the download file cannot be converted: " + result.problem;
      return std::nullopt;
    }
  } else {
    int32_t size = FileSize(path);
    info.variant = VariantFromImageSize(size);
    if (info.variant == kUnrecognised) {
      error =
          "a flash image is 0x660000, 0x7B0000 or 0x800000 bytes long; this file has " + Hex(size);
      return std::nullopt;
    }
    info.partition_count = PartitionCountOfVariant(info.variant);
  }

  const VariantLayout& layout = *LayoutOf(info.variant);
  info.directory_offset = layout.directory_offset;
  info.manufacturer_offset = layout.manufacturer_offset;

  auto job = std::make_unique<JobState>();
  job->partition_count = info.partition_count;
  ReadPartitionDirectory(*job, image_path);
  ReadManufacturerBlock(*job, image_path);
  info.directory = job->directory;
  info.manufacturer = job->manufacturer;

  File image = File::Open(image_path, File::Mode::kRead);
  info.problem = FindDirectoryProblem(*job, image.Size());
  if (!info.problem) {
    ReadPartitions(*job, image_path);
    info.model_id = ReadModelId(*job, image_path);
    info.model_id = info.model_id.substr(0, info.model_id.find('\0'));
    // The settings as the last "httpcfg" partition holds them; nothing is written to disk.
    std::string httpcfg;
    for (int i = 0; i < job->directory.UsableCount(); ++i) {
      const DirectoryEntry& entry = job->directory.entries[i];
      if (entry.NameIs("httpcfg"))
        httpcfg.assign(job->Slot(i).begin(), job->Slot(i).begin() + entry.Length());
    }
    for (const HttpSettingKey& key : kHttpSettingKeys) {
      info.http[key.kind - 1] = ReadProfileString(httpcfg, key.section, key.key);
    }
  }
  for (int i = 0; i < info.manufacturer.CheckedRegionCount(); ++i) {
    const RegionRecord& record = info.manufacturer.regions[i];
    info.regions.push_back({record, RegionCrcInImage(image, layout, record)});
  }
  std::vector<uint8_t> block(kBlockCrcOffset, 0xFF);
  image.ReadAt(layout.manufacturer_offset, block);
  info.image_block_crc = Crc32(block.data(), kBlockCrcOffset);
  return info;
}

void PrintImageInfo(const ImageInfo& info, std::ostream& out) {
  char line[256];
  out << "kind:             " << (info.is_download ? "download file" : "flash image") << "\n";
  out << "variant:          " << int{info.variant} << " (" << VariantName(info.variant) << ")\n";
  out << "partition count:  " << info.partition_count << "\n\n";

  const PartitionDirectory& directory = info.directory;
  out << "partition directory at file offset " << Hex(info.directory_offset) << ": entry count "
      << directory.entry_count << "\n";
  std::snprintf(line, sizeof line, "  %5s  %-16s  %-10s  %8s  %-10s  %-10s  %-10s\n", "index",
                "name", "offset", "selector", "first len", "second len", "length");
  out << line;
  for (int i = 0; i < directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    std::snprintf(line, sizeof line, "  %5d  %-16s  %-10s  %8u  %-10s  %-10s  %-10s\n", i,
                  entry.Name().c_str(), Hex(entry.offset).c_str(), entry.length_selector,
                  Hex(entry.first_length).c_str(), Hex(entry.second_length).c_str(),
                  Hex(entry.Length()).c_str());
    out << line;
  }

  const ManufacturerBlock& block = info.manufacturer;
  out << "\nmanufacturer block at file offset " << Hex(info.manufacturer_offset) << "\n";
  out << "  IDENT_NOCHECH      " << int{block.ident_nocheck} << "\n";
  out << "  MANUFACTURE_IDENT  " << FieldText(block.manufacture_ident) << "\n";
  out << "  HARDWARE_MODULE    " << FieldText(block.hardware_module) << "\n";
  out << "  HARDWARE_VERSION   " << FieldText(block.hardware_version) << "\n";
  out << "  SOFTWARE_MODULE    " << FieldText(block.software_module) << "\n";
  out << "  SOFTWARE_VERSION   " << FieldText(block.software_version) << "\n";
  uint64_t stb_id = 0;
  for (int i = 7; i >= 0; --i)
    stb_id = (stb_id << 8) | block.stb_id[i];
  out << "  STB_ID             " << Hex(stb_id, 16) << "\n";
  out << "  region count       " << int{block.region_count} << "\n";
  for (size_t i = 0; i < info.regions.size(); ++i) {
    const RegionInfo& region = info.regions[i];
    std::snprintf(line, sizeof line,
                  "  region %3zu: tag %3u  start %s  length %s  check %u  crc %s %s\n", i,
                  region.record.tag, Hex(region.record.start, 8).c_str(),
                  Hex(region.record.length, 6).c_str(), region.record.check_flag,
                  Hex(region.record.crc, 8).c_str(),
                  region.record.crc == region.image_crc ? "(matches)" : "(differs from the image)");
    out << line;
  }
  out << "  block CRC          " << Hex(block.block_crc, 8) << " "
      << (block.block_crc == info.image_block_crc ? "(matches)" : "(differs from the block)")
      << "\n";
  out << "\nmodel id:           " << info.model_id << "\n";
  for (const HttpSettingKey& key : kHttpSettingKeys) {
    std::snprintf(line, sizeof line, "%-20s%s\n", (std::string(key.key) + ":").c_str(),
                  info.http[key.kind - 1].c_str());
    out << line;
  }
  if (info.problem) out << "\nerror: " << *info.problem << "\n";
}

void PrintImageInfoJson(const ImageInfo& info, std::ostream& out) {
  using nlohmann::json;
  json entries = json::array();
  for (int i = 0; i < info.directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = info.directory.entries[i];
    entries.push_back({{"index", i},
                       {"name", entry.Name()},
                       {"offset", entry.offset},
                       {"selector", entry.length_selector},
                       {"first_length", entry.first_length},
                       {"second_length", entry.second_length},
                       {"length", entry.Length()}});
  }
  json regions = json::array();
  for (const RegionInfo& region : info.regions) {
    regions.push_back({{"tag", region.record.tag},
                       {"start", region.record.start},
                       {"length", region.record.length},
                       {"check_flag", region.record.check_flag},
                       {"crc", region.record.crc},
                       {"crc_ok", region.record.crc == region.image_crc}});
  }
  const ManufacturerBlock& block = info.manufacturer;
  uint64_t stb_id = 0;
  for (int i = 7; i >= 0; --i)
    stb_id = (stb_id << 8) | block.stb_id[i];
  json http = json::object();
  for (const HttpSettingKey& key : kHttpSettingKeys)
    http[key.key] = info.http[key.kind - 1];

  json document = {
      {"kind", info.is_download ? "download" : "flash"},
      {"variant", static_cast<int>(info.variant)},
      {"partition_count", info.partition_count},
      {"directory", {{"entry_count", info.directory.entry_count}, {"entries", entries}}},
      {"manufacturer",
       {{"ident_nocheck", block.ident_nocheck},
        {"manufacture_ident", FieldText(block.manufacture_ident)},
        {"hardware_module", FieldText(block.hardware_module)},
        {"hardware_version", FieldText(block.hardware_version)},
        {"software_module", FieldText(block.software_module)},
        {"software_version", FieldText(block.software_version)},
        {"stb_id", Hex(stb_id, 16)},
        {"region_count", block.region_count},
        {"regions", regions},
        {"block_crc", block.block_crc},
        {"block_crc_ok", block.block_crc == info.image_block_crc}}},
      {"model_id", info.model_id},
      {"http", http},
  };
  if (info.problem) document["problem"] = *info.problem;
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

}  // namespace qv::cli
