#include "app/extraction.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include <nlohmann/json.hpp>

#include "app/messages.h"
#include "download/crc32.h"
#include "download/key_block.h"
#include "image/manufacturer_block.h"
#include "platform/file.h"
#include "platform/hex.h"
#include "platform/io_error.h"
#include "platform/output_files.h"
#include "platform/sha256.h"
#include "workfiles/png_picture.h"
#include "workfiles/still_decoder.h"
#include "workfiles/working_files.h"

namespace qv {

namespace {

using nlohmann::json;

struct Range {
  uint64_t offset;
  uint64_t length;
};

std::vector<uint8_t> Copy(std::span<const uint8_t> bytes) {
  return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> TextBytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// A partition's name as a file name: letters, digits, '.', '_' and '-' kept, every other byte
// as %XX; the extension says what the partition holds.
std::string FileNameOf(const DirectoryEntry& entry) {
  std::string name;
  for (unsigned char c : entry.Name()) {
    if (std::isalnum(c) || c == '_' || c == '-' || (c == '.' && !name.empty())) {
      name += static_cast<char>(c);
    } else {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", c);
      name += escaped;
    }
  }
  if (name.empty()) name = "partition";
  if (entry.NameIs("boot") || entry.NameIs("menu") || entry.NameIs("radio")) return name + ".m2v";
  if (entry.NameIs("httpcfg")) return name + ".ini";
  if (entry.NameIs("modelid")) return name;
  return name + ".bin";
}

// Names given out once: a second partition of a name gets its directory index added.
class Names {
 public:
  Names() {
    for (const char* fixed :
         {kManifestName, "directory.bin", "manufacturer-block.bin", "manufacturer.cfg",
          "boot-area.bin", "default-database.bin", "key-block.bin", "key.bin", "unused.bin"}) {
      taken_.insert(fixed);
    }
  }
  std::string Take(std::string name, int index) {
    if (!taken_.insert(name).second) {
      const std::string extension = std::filesystem::path(name).extension().string();
      name =
          name.substr(0, name.size() - extension.size()) + "-" + std::to_string(index) + extension;
      taken_.insert(name);
    }
    return name;
  }

 private:
  std::set<std::string> taken_;
};

class Extraction {
 public:
  explicit Extraction(const LoadedImage& loaded) : image_(loaded.image) {}

  std::vector<ExtractedFile> Files(const LoadedImage& loaded, const std::string& source_name,
                                   uint64_t source_size) {
    const FlashImage& image = loaded.image;
    const VariantLayout& layout = image.layout();
    manifest_["format"] = "quorvane-extract 1";
    manifest_["source"] = {
        {"name", source_name},
        {"kind", loaded.kind == ImageFileKind::kDownloadFile ? "download" : "flash"},
        {"size", source_size}};
    manifest_["variant"] = static_cast<int>(layout.variant);
    manifest_["image"] = {{"size", image.bytes().size()}, {"sha256", Sha256Hex(image.bytes())}};
    AddPartitions();
    AddFixedParts();
    AddRegions();
    AddUnused();
    json hashes = json::object();
    for (const ExtractedFile& file : files_)
      hashes[file.name] = Sha256Hex(file.bytes);
    manifest_["files"] = hashes;
    files_.push_back({kManifestName, TextBytes(manifest_.dump(2) + "\n")});
    return std::move(files_);
  }

 private:
  void Add(std::string name, std::vector<uint8_t> bytes, std::optional<Range> covers) {
    if (covers) covered_.push_back(*covers);
    files_.push_back({std::move(name), std::move(bytes)});
  }

  void AddPartitions() {
    const PartitionDirectory& directory = image_.directory();
    const uint64_t base = image_.layout().area_base;
    json entries = json::array();
    for (int i = 0; i < directory.UsableCount(); ++i) {
      const DirectoryEntry& entry = directory.entries[i];
      const std::string name = names_.Take(FileNameOf(entry), i);
      const std::span<const uint8_t> data = image_.Partition(i);
      Add(name, Copy(data), Range{base + entry.offset, data.size()});
      json described = {{"index", i},
                        {"name", entry.Name()},
                        {"offset", entry.offset},
                        {"length", entry.Length()},
                        {"crc32", Crc32Update(kCrc32Initial, data)},
                        {"file", name}};
      if (std::filesystem::path(name).extension() == ".m2v") {
        if (Result<Bitmap> still = DecodeStill(data)) {
          const std::string picture = names_.Take(name.substr(0, name.size() - 4) + ".png", i);
          Add(picture, EncodePng(*still), std::nullopt);
          described["picture"] = picture;
        }
      }
      entries.push_back(described);
    }
    manifest_["directory"] = {{"offset", image_.layout().directory_offset},
                              {"entry_count", directory.entry_count},
                              {"file", "directory.bin"},
                              {"entries", entries}};
  }

  void AddFixedParts() {
    const VariantLayout& layout = image_.layout();
    Add("directory.bin", Copy(image_.Range(layout.directory_offset, kDirectorySize)),
        Range{layout.directory_offset, kDirectorySize});
    Add("manufacturer-block.bin",
        Copy(image_.Range(layout.manufacturer_offset, kManufacturerBlockSize)),
        Range{layout.manufacturer_offset, kManufacturerBlockSize});
    Add(kManufacturerCfg,
        TextBytes(ManufacturerCfgText(ManufacturerCfgLines(image_.manufacturer()))), std::nullopt);
    if (!image_.BootArea().empty()) {
      Add("boot-area.bin", Copy(image_.BootArea()), Range{0, kBootAreaSize});
      manifest_["boot_area"] = {
          {"offset", 0}, {"length", kBootAreaSize}, {"file", "boot-area.bin"}};
    }
    json carried = json::array();
    for (const FileRange& range : PreservedRanges(layout)) {
      const std::string name = "carried-" + Hex(range.offset) + ".bin";
      Add(name, Copy(image_.Range(range.offset, range.length)), Range{range.offset, range.length});
      carried.push_back({{"offset", range.offset}, {"length", range.length}, {"file", name}});
    }
    manifest_["carried"] = carried;
    // Whether the image's checksums matched its bytes: packing a changed extraction needs to
    // know, as Start does, without the bytes the changes replaced.
    json regions = json::array();
    for (const RegionCheck& check : CheckRegions(image_.bytes(), layout, image_.manufacturer())) {
      const RegionRecord& record = image_.manufacturer().regions[check.index];
      regions.push_back({{"index", check.index},
                         {"start", record.start},
                         {"length", record.length},
                         {"check_flag", record.check_flag},
                         {"crc", record.crc},
                         {"state", RegionStateName(check.state)}});
    }
    manifest_["manufacturer"] = {
        {"offset", layout.manufacturer_offset},
        {"file", "manufacturer-block.bin"},
        {"cfg", "manufacturer.cfg"},
        {"regions", regions},
        {"damage", DescribeDamage(image_.bytes(), layout, image_.manufacturer())}};
  }

  // The database and key regions of the variants whose files hold them.
  void AddRegions() {
    const VariantLayout& layout = image_.layout();
    if (image_.variant() == kAppImage) return;
    Add("default-database.bin", Copy(image_.Range(layout.default_region, kDefaultRegionSize)),
        Range{layout.default_region, kDefaultRegionSize});
    manifest_["default_database"] = {{"offset", layout.default_region},
                                     {"length", kDefaultRegionSize},
                                     {"file", "default-database.bin"}};
    const std::span<const uint8_t> key = image_.Range(layout.key_region, kKeyRegionSize);
    Add("key-block.bin", Copy(key), Range{layout.key_region, kKeyRegionSize});
    json described = {{"offset", layout.key_region},
                      {"length", kKeyRegionSize},
                      {"file", "key-block.bin"},
                      {"compressed", HasKeyBlockFlag(key)}};
    if (HasKeyBlockFlag(key)) {
      if (Result<std::vector<uint8_t>> data = DecompressKeyBlock(key)) {
        Add("key.bin", std::move(*data), std::nullopt);
        described["data"] = "key.bin";
      }
    }
    manifest_["key_block"] = described;
  }

  // The bytes no other file holds: a file only when one of them is not erased.
  void AddUnused() {
    std::sort(covered_.begin(), covered_.end(),
              [](const Range& a, const Range& b) { return a.offset < b.offset; });
    const std::span<const uint8_t> bytes = image_.bytes();
    std::vector<Range> unused;
    uint64_t at = 0;
    for (const Range& range : covered_) {
      if (range.offset > at) unused.push_back({at, range.offset - at});
      at = std::max(at, range.offset + range.length);
    }
    if (at < bytes.size()) unused.push_back({at, bytes.size() - at});
    std::vector<uint8_t> kept;
    json ranges = json::array();
    for (const Range& range : unused) {
      kept.insert(kept.end(), bytes.begin() + static_cast<ptrdiff_t>(range.offset),
                  bytes.begin() + static_cast<ptrdiff_t>(range.offset + range.length));
      ranges.push_back({{"offset", range.offset}, {"length", range.length}});
    }
    const bool erased = std::all_of(kept.begin(), kept.end(), [](uint8_t b) { return b == 0xFF; });
    manifest_["unused"] = {{"ranges", ranges}, {"file", erased ? json() : json("unused.bin")}};
    if (!erased) Add("unused.bin", std::move(kept), std::nullopt);
  }

  const FlashImage& image_;
  json manifest_;
  Names names_;
  std::vector<ExtractedFile> files_;
  std::vector<Range> covered_;
};

}  // namespace

std::vector<ExtractedFile> ExtractFiles(const LoadedImage& loaded, const std::string& source_name,
                                        uint64_t source_size) {
  return Extraction(loaded).Files(loaded, source_name, source_size);
}

Outcome ExtractImage(const std::string& path, const std::string& directory,
                     PendingFile::Replace replace) {
  try {
    Result<LoadedImage> loaded = LoadImage(path);
    if (!loaded)
      return {Status::kRefused,
              {{MessageKind::kError, text::NotAnImage(path, loaded.error().text)}}};
    const uint64_t size = static_cast<uint64_t>(FileSize(path));
    const std::vector<ExtractedFile> files =
        ExtractFiles(*loaded, std::filesystem::path(path).filename().string(), size);
    std::filesystem::create_directories(directory);
    std::string target = std::filesystem::absolute(directory).string();
    if (target.back() != '/') target += '/';
    std::vector<OutputFile> outputs;
    std::vector<std::string> taken;
    for (const ExtractedFile& file : files) {
      outputs.push_back({file.name, file.bytes});
      if (NameIsTaken(target + file.name)) taken.push_back(file.name);
    }
    if (!taken.empty() && replace == PendingFile::Replace::kNever)
      return {Status::kRefused, {{MessageKind::kError, text::NamesTaken(taken, target)}}};
    Result<void> written = WriteOutputFiles(target, outputs, replace);
    if (!written) {
      return {Status::kRefused,
              {{MessageKind::kError, text::OutputNotWritten(written.error().text)}}};
    }
    return {Status::kDone, {{MessageKind::kInformation, text::Extracted(files.size(), target)}}};
  } catch (const IoError& error) {
    return RunTimeError(error);
  } catch (const std::filesystem::filesystem_error& error) {
    return RunTimeError(IoError::FromErrno(error.code().value()));
  }
}

}  // namespace qv
