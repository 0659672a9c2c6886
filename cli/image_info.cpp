#include "cli/image_info.h"

#include <cstdio>

#include "app/image_file.h"
#include "download/crc32.h"
#include "image/flash_image.h"
#include "platform/file.h"
#include "platform/hex.h"
#include "platform/ini_profile.h"
#include "workfiles/logo_kind.h"
#include "workfiles/still_decoder.h"

#include <nlohmann/json.hpp>

namespace qv::cli {

namespace {

const char* StateText(RegionState state) {
  switch (state) {
    case RegionState::kMatches:
      return "matches";
    case RegionState::kDiffers:
      return "differs from the image";
    case RegionState::kNotChecked:
      return "not checked";
    case RegionState::kOutside:
      break;
  }
  return "outside this image";
}

// The model id and settings of a sound image.
void TakeSettings(const FlashImage& image, ImageInfo& info) {
  info.model_id = ModelIdText(image.ModelId());
  std::string httpcfg;
  if (std::optional<std::span<const uint8_t>> data = image.HttpCfg())
    httpcfg.assign(data->begin(), data->end());
  info.http = ReadHttpSettings(httpcfg);
}

// Each logo partition (the last of its name, as a build replaces it) and its still's size.
void TakeLogos(const FlashImage& image, ImageInfo& info) {
  for (const LogoNames& names : kLogos) {
    LogoInfo logo;
    logo.partition = names.partition;
    for (int i = 0; i < image.directory().UsableCount(); ++i) {
      if (image.directory().entries[i].NameIs(names.partition)) logo.index = i;
    }
    if (logo.index) {
      if (Result<Bitmap> picture = DecodeStill(image.Partition(*logo.index))) {
        logo.still = true;
        logo.width = picture->width;
        logo.height = picture->height;
      }
    }
    info.logos.push_back(logo);
  }
}

// The CRC-32 of each partition that lies inside the image.
void TakePartitionCrcs(std::span<const uint8_t> bytes, const VariantLayout& layout,
                       ImageInfo& info) {
  for (int i = 0; i < info.directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = info.directory.entries[i];
    const uint64_t start = uint64_t{layout.area_base} + entry.offset;
    if (start + entry.Length() > bytes.size()) {
      info.partition_crcs.push_back(std::nullopt);
    } else {
      info.partition_crcs.push_back(
          Crc32Update(kCrc32Initial, bytes.subspan(start, entry.Length())));
    }
  }
}

std::string LogoText(const LogoInfo& logo) {
  if (!logo.index) return "no partition";
  if (!logo.still) return "not a still";
  return std::to_string(logo.width) + " x " + std::to_string(logo.height);
}

}  // namespace

Result<ImageInfo> GatherImageInfo(const std::string& path) {
  const int64_t file_size = File::Open(path, File::Mode::kRead).Size();
  Result<ImageFile> file = ReadImageFile(path);
  if (!file) return tl::unexpected<Error>(file.error());
  ImageInfo info;
  info.file_name = path;
  info.file_size = file_size;
  info.is_download = file->kind == ImageFileKind::kDownloadFile;
  info.variant = file->variant;
  info.partition_count = PartitionCountOfVariant(info.variant);
  Result<std::vector<uint8_t>> bytes = FlashBytesOf(std::move(*file));
  if (!bytes) {
    return Fail(bytes.error().field, bytes.error().offset,
                "the download file cannot be converted: " + bytes.error().text);
  }

  const VariantLayout& layout = *LayoutOf(info.variant);
  info.directory_offset = layout.directory_offset;
  info.manufacturer_offset = layout.manufacturer_offset;
  info.directory = DecodeDirectoryAt(*bytes, layout);
  info.manufacturer = DecodeManufacturerBlockAt(*bytes, layout);
  TakePartitionCrcs(*bytes, layout, info);
  for (const RegionCheck& check : CheckRegions(*bytes, layout, info.manufacturer)) {
    const RegionRecord& record = info.manufacturer.regions[check.index];
    info.regions.push_back({record, RegionCrcInImage(*bytes, layout, record), check.state});
    info.damaged = info.damaged || check.state == RegionState::kDiffers;
  }
  info.image_block_crc = BlockCrcInImage(*bytes, layout);
  info.damaged = info.damaged || info.image_block_crc != info.manufacturer.block_crc;

  Result<FlashImage> image = FlashImage::Parse(std::move(*bytes), info.variant);
  if (image) {
    TakeSettings(*image, info);
    TakeLogos(*image, info);
  } else {
    info.problem = image.error().text;
  }
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
  std::snprintf(line, sizeof line, "  %5s  %-16s  %-10s  %8s  %-10s  %-10s  %-10s  %s\n", "index",
                "name", "offset", "selector", "first len", "second len", "length", "crc");
  out << line;
  for (int i = 0; i < directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    const std::optional<uint32_t> crc = info.partition_crcs[static_cast<size_t>(i)];
    std::snprintf(line, sizeof line, "  %5d  %-16s  %-10s  %8u  %-10s  %-10s  %-10s  %s\n", i,
                  PrintableName(entry).c_str(), Hex(entry.offset).c_str(), entry.length_selector,
                  Hex(entry.first_length).c_str(), Hex(entry.second_length).c_str(),
                  Hex(entry.Length()).c_str(), crc ? Hex(*crc, 8).c_str() : "-");
    out << line;
  }

  const ManufacturerBlock& block = info.manufacturer;
  out << "\nmanufacturer block at file offset " << Hex(info.manufacturer_offset) << "\n";
  out << "  IDENT_NOCHECH      " << int{block.ident_nocheck} << "\n";
  out << "  MANUFACTURE_IDENT  " << PrintableText(FieldText(block.manufacture_ident)) << "\n";
  out << "  HARDWARE_MODULE    " << PrintableText(FieldText(block.hardware_module)) << "\n";
  out << "  HARDWARE_VERSION   " << PrintableText(FieldText(block.hardware_version)) << "\n";
  out << "  SOFTWARE_MODULE    " << PrintableText(FieldText(block.software_module)) << "\n";
  out << "  SOFTWARE_VERSION   " << PrintableText(FieldText(block.software_version)) << "\n";
  uint64_t stb_id = 0;
  for (int i = 7; i >= 0; --i)
    stb_id = (stb_id << 8) | block.stb_id[i];
  out << "  STB_ID             " << Hex(stb_id, 16) << "\n";
  out << "  region count       " << int{block.region_count} << "\n";
  for (size_t i = 0; i < info.regions.size(); ++i) {
    const RegionInfo& region = info.regions[i];
    std::snprintf(line, sizeof line,
                  "  region %3zu: tag %3u  start %s  length %s  check %u  crc %s (%s)\n", i,
                  region.record.tag, Hex(region.record.start, 8).c_str(),
                  Hex(region.record.length, 6).c_str(), region.record.check_flag,
                  Hex(region.record.crc, 8).c_str(), StateText(region.state));
    out << line;
  }
  out << "  block CRC          " << Hex(block.block_crc, 8) << " "
      << (block.block_crc == info.image_block_crc ? "(matches)" : "(differs from the block)")
      << "\n";
  out << "\nmodel id:           " << PrintableText(info.model_id) << "\n";
  for (size_t i = 0; i < kHttpSettingKeys.size(); ++i) {
    std::snprintf(line, sizeof line, "%-20s%s\n",
                  (std::string(kHttpSettingKeys[i].key) + ":").c_str(),
                  PrintableText(info.http[i]).c_str());
    out << line;
  }
  for (const LogoInfo& logo : info.logos) {
    std::snprintf(line, sizeof line, "%-20s%s\n", ("logo " + logo.partition + ":").c_str(),
                  LogoText(logo).c_str());
    out << line;
  }
  if (info.problem) out << "\nerror: " << *info.problem << "\n";
  if (info.damaged) {
    out << "\nerror: the image's checksums do not match its contents; it is damaged or was "
           "edited by hand\n";
  }
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
                       {"length", entry.Length()},
                       {"crc", info.partition_crcs[static_cast<size_t>(i)]
                                   ? json(*info.partition_crcs[static_cast<size_t>(i)])
                                   : json(nullptr)}});
  }
  json regions = json::array();
  for (const RegionInfo& region : info.regions) {
    regions.push_back({{"tag", region.record.tag},
                       {"start", region.record.start},
                       {"length", region.record.length},
                       {"check_flag", region.record.check_flag},
                       {"crc", region.record.crc},
                       {"crc_ok", region.record.crc == region.image_crc},
                       {"state", StateText(region.state)}});
  }
  const ManufacturerBlock& block = info.manufacturer;
  uint64_t stb_id = 0;
  for (int i = 7; i >= 0; --i)
    stb_id = (stb_id << 8) | block.stb_id[i];
  json http = json::object();
  for (size_t i = 0; i < kHttpSettingKeys.size(); ++i)
    http[kHttpSettingKeys[i].key] = info.http[i];

  json logos = json::array();
  for (const LogoInfo& logo : info.logos) {
    json entry = {{"partition", logo.partition},
                  {"index", logo.index ? json(*logo.index) : json(nullptr)},
                  {"still", logo.still}};
    if (logo.still) {
      entry["width"] = logo.width;
      entry["height"] = logo.height;
    }
    logos.push_back(entry);
  }

  json document = {
      {"file_name", info.file_name},
      {"file_size", info.file_size},
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
      {"logos", logos},
  };
  if (info.problem) document["problem"] = *info.problem;
  document["damaged"] = info.damaged;
  out << document.dump(2, ' ', false, json::error_handler_t::replace) << "\n";
}

}  // namespace qv::cli
