#include "app/verify.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string_view>

#include "app/image_file.h"
#include "download/crc32.h"
#include "download/download_file.h"
#include "download/key_block.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "image/partition_directory.h"
#include "image/settings.h"
#include "platform/file.h"
#include "platform/hex.h"
#include "platform/ini_profile.h"
#include "platform/little_endian.h"
#include "workfiles/logo_kind.h"
#include "workfiles/still_decoder.h"

namespace qv {

namespace {

std::string Quoted(std::string_view text) {
  return "\"" + PrintableText(text) + "\"";
}

class Checker {
 public:
  explicit Checker(VerifyReport& report) : report_(report) {}

  void Add(std::string name, Verdict verdict, std::string detail) {
    report_.checks.push_back({std::move(name), verdict, std::move(detail)});
  }
  void Ok(std::string name, std::string detail) {
    Add(std::move(name), Verdict::kOk, std::move(detail));
  }
  void Damaged(std::string name, std::string detail) {
    Add(std::move(name), Verdict::kDamaged, std::move(detail));
  }
  void Note(std::string name, std::string detail) {
    Add(std::move(name), Verdict::kNote, std::move(detail));
  }

 private:
  VerifyReport& report_;
};

// ---------------------------------------------------------------------------------------------
// The download file: its records and what it holds besides them.

std::string RecordName(const DownloadRecord& record) {
  switch (record.type) {
    case RecordType::kHeader:
      return "download header record";
    case RecordType::kSectorHeader:
      return "sector " + std::to_string(record.sector) + " header record";
    case RecordType::kSectorData:
      break;
  }
  return "sector " + std::to_string(record.sector) + " data record";
}

void CheckRecords(const DownloadListing& listing, Checker& checks) {
  for (const DownloadRecord& record : listing.records) {
    std::string detail = "at offset " + Hex(record.offset) + ", length " + Hex(record.length) +
                         ", " +
                         (record.length < 4 ? "no CRC"
                          : record.crc_ok   ? "CRC ok"
                                            : "CRC differs");
    if (record.data_size) detail += ", decompresses to " + Hex(*record.data_size) + " bytes";
    if (record.problem.empty()) {
      checks.Ok(RecordName(record), detail);
    } else {
      checks.Damaged(RecordName(record), detail + ": " + record.problem);
    }
  }
}

// One line for each kind of finding: ok when there is none of its kind, else one line per
// finding.
void CheckFindings(const DownloadListing& listing, int64_t file_size, Checker& checks) {
  struct Line {
    const char* name;
    std::vector<DownloadFindingKind> kinds;
    std::string when_none;
  };
  const Line lines[] = {
      {"record stream",
       {DownloadFindingKind::kCutShort, DownloadFindingKind::kNoRecord,
        DownloadFindingKind::kTooManyRecords},
       "complete: its last record ends at offset " + Hex(listing.stream_end)},
      {"data after the stream", {DownloadFindingKind::kDataAfterStream}, "none"},
      {"sectors beyond the variant", {DownloadFindingKind::kSectorsBeyondVariant}, "none"},
      {"sector sizes",
       {DownloadFindingKind::kSectorPastItsSector, DownloadFindingKind::kSectorPastImage},
       "the data of every sector stays inside its sector"},
      {"total size", {DownloadFindingKind::kTotalSizeDiffers}, ""},
  };
  for (const Line& line : lines) {
    bool found = false;
    for (const DownloadFinding& finding : listing.findings) {
      if (std::find(line.kinds.begin(), line.kinds.end(), finding.kind) == line.kinds.end())
        continue;
      checks.Damaged(line.name, finding.text);
      found = true;
    }
    if (found) continue;
    if (line.kinds.front() != DownloadFindingKind::kTotalSizeDiffers) {
      checks.Ok(line.name, line.when_none);
    } else if (!listing.records.empty() && listing.records.front().problem.empty() &&
               listing.records.front().type == RecordType::kHeader) {
      checks.Ok(line.name,
                "the download header gives the file's size, " + Hex(file_size) + " bytes");
    } else {
      checks.Note(line.name, "not checked: the file has no sound download header record");
    }
  }
}

// ---------------------------------------------------------------------------------------------
// The image: directory, partitions, checksums.

void CheckDirectory(std::span<const uint8_t> image, const VariantLayout& layout,
                    const PartitionDirectory& directory, Checker& checks) {
  if (std::optional<Error> problem =
          FindDirectoryProblem(directory, layout, static_cast<int64_t>(image.size()))) {
    checks.Damaged("partition directory", problem->text);
  } else {
    checks.Ok("partition directory", "at file offset " + Hex(layout.directory_offset) + ", " +
                                         std::to_string(directory.entry_count) +
                                         " entries, safe to work with");
  }
}

// Each partition inside the partition space, within its class's capacity, and over no other
// partition, whose data a build would then write over.
void CheckPartitions(std::span<const uint8_t> image, const VariantLayout& layout,
                     const PartitionDirectory& directory, Checker& checks) {
  const int count = directory.UsableCount();
  auto start_of = [&](int i) { return uint64_t{layout.area_base} + directory.entries[i].offset; };
  auto end_of = [&](int i) { return start_of(i) + directory.entries[i].Length(); };
  const uint64_t space_end = uint64_t{layout.area_base} + kPartitionSpace;
  for (int i = 0; i < count; ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    const PartitionClass partition_class = ClassOf(entry);
    const uint64_t capacity = CapacityOf(partition_class);
    const std::string name = "partition " + std::to_string(i) + " " + Quoted(entry.Name());
    const std::string place =
        "file offset " + Hex(start_of(i)) + ", " + Hex(entry.Length()) + " bytes";
    std::vector<std::string> faults;
    if (entry.Length() > capacity) {
      faults.push_back("longer than its " + std::to_string(capacity) + "-byte " +
                       DescriptionOf(partition_class));
    }
    if (end_of(i) > image.size()) faults.push_back("ends past the end of the image");
    if (end_of(i) > space_end) {
      faults.push_back("ends past the partition space, which ends at file offset " +
                       Hex(space_end));
    }
    for (int j = 0; j < count; ++j) {
      if (j == i || entry.Length() == 0 || directory.entries[j].Length() == 0) continue;
      if (start_of(i) < end_of(j) && start_of(j) < end_of(i)) {
        faults.push_back("lies over partition " + std::to_string(j) + " " +
                         Quoted(directory.entries[j].Name()));
      }
    }
    if (faults.empty()) {
      checks.Ok(name, place + ", inside the partition space and its " + std::to_string(capacity) +
                          "-byte " + DescriptionOf(partition_class));
      continue;
    }
    std::string detail = place;
    for (size_t k = 0; k < faults.size(); ++k)
      detail += (k == 0 ? ": " : "; ") + faults[k];
    checks.Damaged(name, detail);
  }
}

void CheckChecksums(std::span<const uint8_t> image, const VariantLayout& layout,
                    const ManufacturerBlock& block, Checker& checks) {
  for (const RegionCheck& check : CheckRegions(image, layout, block)) {
    const RegionRecord& region = block.regions[check.index];
    const std::string name = "region " + std::to_string(check.index);
    const std::string place = "flash " + Hex(region.start, 8) + ", " + Hex(region.length) +
                              " bytes, check flag " + std::to_string(region.check_flag);
    switch (check.state) {
      case RegionState::kMatches:
        checks.Ok(name, place + ": CRC " + Hex(region.crc, 8) + " matches its bytes");
        break;
      case RegionState::kDiffers:
        checks.Damaged(name, place + ": recorded CRC " + Hex(region.crc, 8) + ", its bytes give " +
                                 Hex(check.image_crc, 8));
        break;
      case RegionState::kNotChecked:
        checks.Note(name, place + ": not checked; its CRC " + Hex(region.crc, 8) +
                              " is carried, never compared");
        break;
      case RegionState::kOutside:
        checks.Note(name, place + ": outside this image; its CRC " + Hex(region.crc, 8) +
                              " is not compared");
        break;
    }
  }
  const uint32_t block_crc = BlockCrcInImage(image, layout);
  const std::string place =
      "the manufacturer block at file offset " + Hex(layout.manufacturer_offset);
  if (block_crc == block.block_crc) {
    checks.Ok("block CRC", place + ": CRC " + Hex(block.block_crc, 8) + " matches its bytes");
  } else {
    checks.Damaged("block CRC", place + ": recorded CRC " + Hex(block.block_crc, 8) +
                                    ", its bytes give " + Hex(block_crc, 8));
  }
}

// ---------------------------------------------------------------------------------------------
// What the partitions hold: logos, settings, model id.

// The last partition of the name, as a build replaces it.
std::optional<int> LastPartitionNamed(const FlashImage& image, std::string_view name) {
  std::optional<int> found;
  for (int i = 0; i < image.directory().UsableCount(); ++i) {
    if (image.directory().entries[i].NameIs(name)) found = i;
  }
  return found;
}

void CheckLogos(const FlashImage& image, Checker& checks) {
  for (const LogoNames& logo : kLogos) {
    const std::string name = "logo " + std::string(logo.partition);
    const std::optional<int> index = LastPartitionNamed(image, logo.partition);
    if (!index) {
      checks.Note(name, "the image has no " + Quoted(logo.partition) + " partition");
      continue;
    }
    const std::span<const uint8_t> still = image.Partition(*index);
    Result<Bitmap> picture = DecodeStill(still);
    if (picture) {
      checks.Ok(name, "partition " + std::to_string(*index) + ": an MPEG-2 still of " +
                          std::to_string(picture->width) + " x " + std::to_string(picture->height) +
                          ", " + std::to_string(still.size()) + " bytes");
    } else {
      checks.Damaged(name, "partition " + std::to_string(*index) +
                               " is not an MPEG-2 still: " + picture.error().text);
    }
  }
}

// Whether the profile text has the key in its section. A missing key reads as the empty string
// just as an empty value does; writing the key tells them apart, since a key that stands in the
// text is rewritten on its own line while a missing one is added on a new line.
bool HasProfileKey(std::string_view text, std::string_view section, std::string_view key) {
  const std::string written = WriteProfileString(text, section, key, "x");
  return std::count(written.begin(), written.end(), '\n') ==
         std::count(text.begin(), text.end(), '\n');
}

void CheckHttpCfg(const FlashImage& image, Checker& checks) {
  const std::optional<std::span<const uint8_t>> data = image.HttpCfg();
  if (!data) {
    checks.Note("httpcfg.ini",
                "the image has no \"httpcfg\" partition: every HTTP setting is "
                "empty, and a build adds the partition");
    return;
  }
  const std::string text(data->begin(), data->end());
  std::string missing;
  for (const HttpSettingKey& key : kHttpSettingKeys) {
    if (HasProfileKey(text, key.section, key.key)) continue;
    missing += (missing.empty() ? "" : ", ") + std::string(key.key) + " in [" + key.section + "]";
  }
  if (missing.empty()) {
    checks.Ok("httpcfg.ini", std::to_string(text.size()) + " bytes, with all seven keys");
  } else {
    checks.Note("httpcfg.ini", std::to_string(text.size()) + " bytes, without " + missing +
                                   " (read as empty; a build adds them)");
  }
}

void CheckModelId(const FlashImage& image, Checker& checks) {
  if (!LastPartitionNamed(image, "modelid")) {
    checks.Note("model id", "the image has no \"modelid\" partition");
    return;
  }
  const std::string model_id = ModelIdText(image.ModelId());
  const bool printable = std::all_of(model_id.begin(), model_id.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
  });
  if (!printable) {
    checks.Damaged("model id", Quoted(model_id) +
                                   " holds bytes outside printable ASCII, which its box cannot "
                                   "show");
  } else if (model_id.empty()) {
    checks.Note("model id", "empty");
  } else if (model_id.size() > kModelIdMaxLength) {
    checks.Note("model id", Quoted(model_id) + ": " + std::to_string(model_id.size()) +
                                " characters, more than the " + std::to_string(kModelIdMaxLength) +
                                " its setting box takes");
  } else {
    checks.Ok("model id", Quoted(model_id) + ", printable ASCII");
  }
}

// The key region of all and full images: a key stored as it is, or a compressed key block
// (flag 1 at offset 80) whose stream must give the 65,536 bytes of key data.
void CheckKeyBlock(std::span<const uint8_t> image, const VariantLayout& layout, Checker& checks) {
  if (image.size() < uint64_t{layout.key_region} + kKeyRegionSize) {
    checks.Note("key block", "an app image holds no key region");
    return;
  }
  const std::span<const uint8_t> region = image.subspan(layout.key_region, kKeyRegionSize);
  const std::string place = "key region at file offset " + Hex(layout.key_region);
  const uint32_t flag = ReadLe32(&region[kKeyBlockFlagOffset]);
  if (flag != kKeyBlockFlag) {
    checks.Ok("key block", place + ": flag " + Hex(flag, 8) + ", the key is stored as it is");
    return;
  }
  Result<std::vector<uint8_t>> key = DecompressKeyBlock(region);
  if (key) {
    checks.Ok("key block", place + ": flag 1, its stream of " +
                               std::to_string(ReadLe32(&region[kKeyStreamLengthOffset])) +
                               " bytes decompresses to the 65536 bytes of key data");
  } else {
    checks.Damaged("key block", place + ": flag 1, but " + key.error().text);
  }
}

// A merged app image that took a key block or a default database holds the key region and the
// database region after the app image's own bytes, so that it ends at 0x6D0000 or 0x710000.
bool IsAppImageWithRegions(const std::string& path, int64_t size) {
  return !IsDownloadFileName(path) &&
         (size == int64_t{kAppLayout.key_region} + kKeyRegionSize ||
          size == int64_t{kAppLayout.default_region} + kDefaultRegionSize);
}

// The bytes between the end of an app image and its key region, which no image holds: erased,
// or a note of what else they hold.
void CheckGapBeforeKeyRegion(std::span<const uint8_t> image, Checker& checks) {
  const std::span<const uint8_t> gap =
      image.subspan(kAppLayout.file_size, kAppLayout.key_region - kAppLayout.file_size);
  const auto erased = std::count(gap.begin(), gap.end(), uint8_t{0xFF});
  const std::string name = "bytes after the app image";
  const std::string place = "file offsets " + Hex(kAppLayout.file_size) + " to " +
                            Hex(kAppLayout.key_region - 1) + ", before the key region";
  if (erased == static_cast<std::ptrdiff_t>(gap.size())) {
    checks.Ok(name, place + ": erased");
  } else {
    checks.Note(name, place + ": " + std::to_string(gap.size() - erased) + " of the " +
                          std::to_string(gap.size()) + " bytes are not erased (0xFF)");
  }
}

// Every check of an image's bytes, once the file has given them.
void CheckImage(std::vector<uint8_t> bytes, Variant variant, Checker& checks) {
  const VariantLayout& layout = *LayoutOf(variant);
  const PartitionDirectory directory = DecodeDirectoryAt(bytes, layout);
  CheckDirectory(bytes, layout, directory, checks);
  CheckPartitions(bytes, layout, directory, checks);
  CheckChecksums(bytes, layout, DecodeManufacturerBlockAt(bytes, layout), checks);

  // The partitions' contents are read only from an image whose directory is safe.
  std::vector<uint8_t> kept = bytes;
  Result<FlashImage> image = FlashImage::Parse(std::move(kept), variant);
  if (image) {
    CheckLogos(*image, checks);
    CheckHttpCfg(*image, checks);
    CheckModelId(*image, checks);
  } else {
    std::vector<std::string> names;
    for (const LogoNames& logo : kLogos)
      names.push_back("logo " + std::string(logo.partition));
    names.insert(names.end(), {"httpcfg.ini", "model id"});
    for (const std::string& name : names)
      checks.Note(name, "not checked: the partition directory is unsafe to work with");
  }
  if (variant == kAppImage && bytes.size() >= kAppLayout.key_region)
    CheckGapBeforeKeyRegion(bytes, checks);
  CheckKeyBlock(bytes, layout, checks);
}

}  // namespace

const char* VerdictName(Verdict verdict) {
  switch (verdict) {
    case Verdict::kOk:
      return "ok";
    case Verdict::kDamaged:
      return "damaged";
    case Verdict::kNote:
      break;
  }
  return "note";
}

bool VerifyReport::Damaged() const {
  return Count(Verdict::kDamaged) > 0;
}

int VerifyReport::Count(Verdict verdict) const {
  return static_cast<int>(std::count_if(
      checks.begin(), checks.end(), [&](const VerifyCheck& c) { return c.verdict == verdict; }));
}

VerifyReport VerifyImageFile(const std::string& path) {
  VerifyReport report;
  report.path = path;
  Checker checks(report);
  const int64_t file_size = File::Open(path, File::Mode::kRead).Size();
  if (IsAppImageWithRegions(path, file_size)) {
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    if (static_cast<int64_t>(bytes.size()) == file_size) {
      checks.Ok(
          "file",
          "flash image, app image (variant 5, 102 sectors) followed by its key "
          "region" +
              std::string(file_size > kAppLayout.default_region ? " and default database region"
                                                                : "") +
              ", as a merged app image with a key or database is written, " +
              std::to_string(file_size) + " bytes");
      CheckImage(std::move(bytes), kAppImage, checks);
      return report;
    }
  }
  Result<ImageFile> file = ReadImageFile(path);
  if (!file) {
    checks.Damaged("file", "not an image this tool handles: " + file.error().text);
    return report;
  }
  const Variant variant = file->variant;
  const bool download = file->kind == ImageFileKind::kDownloadFile;
  checks.Ok("file", std::string(download ? "download file" : "flash image") + ", " +
                        VariantName(variant) + " (variant " + std::to_string(int{variant}) + ", " +
                        std::to_string(PartitionCountOfVariant(variant)) + " sectors), " +
                        std::to_string(file_size) + " bytes");

  if (download) {
    const DownloadListing listing = ListDownloadRecords(file->bytes, variant, file_size);
    CheckRecords(listing, checks);
    CheckFindings(listing, file_size, checks);
  }
  Result<std::vector<uint8_t>> bytes = FlashBytesOf(std::move(*file));
  if (!bytes) {
    checks.Damaged("image", "the download file cannot be converted: " + bytes.error().text +
                                "; nothing of its image is checked");
    return report;
  }
  CheckImage(std::move(*bytes), variant, checks);
  return report;
}

}  // namespace qv
