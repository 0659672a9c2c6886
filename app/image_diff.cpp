#include "app/image_diff.h"

#include <algorithm>
#include <map>

#include "download/crc32.h"
#include "image/manufacturer_block.h"
#include "image/settings.h"
#include "platform/hex.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

struct Occurrence {
  std::string name;
  int nth;  // 0 for the first partition of its name, 1 for the second, ...
  bool operator<(const Occurrence& other) const {
    return name != other.name ? name < other.name : nth < other.nth;
  }
};

// The partitions of an image by name and occurrence, in directory order.
std::vector<std::pair<Occurrence, int>> PartitionsOf(const FlashImage& image) {
  std::vector<std::pair<Occurrence, int>> partitions;
  std::map<std::string, int> seen;
  for (int i = 0; i < image.directory().UsableCount(); ++i) {
    const std::string name = image.directory().entries[i].Name();
    partitions.push_back({{name, seen[name]++}, i});
  }
  return partitions;
}

uint32_t CrcOf(std::span<const uint8_t> bytes) {
  return Crc32Update(kCrc32Initial, bytes);
}

void ComparePartitions(const FlashImage& a, const FlashImage& b, ImageDifference& difference) {
  std::map<Occurrence, int> in_b;
  for (const auto& [occurrence, index] : PartitionsOf(b))
    in_b[occurrence] = index;
  for (const auto& [occurrence, index] : PartitionsOf(a)) {
    PartitionDifference partition{occurrence.name, PartChange::kRemoved, {}, {}, {}, {}};
    std::span<const uint8_t> old_data = a.Partition(index);
    partition.old_length = static_cast<uint32_t>(old_data.size());
    partition.old_crc = CrcOf(old_data);
    if (auto found = in_b.find(occurrence); found != in_b.end()) {
      std::span<const uint8_t> new_data = b.Partition(found->second);
      partition.new_length = static_cast<uint32_t>(new_data.size());
      partition.new_crc = CrcOf(new_data);
      const bool same =
          std::equal(old_data.begin(), old_data.end(), new_data.begin(), new_data.end());
      partition.change = same ? PartChange::kUnchanged : PartChange::kChanged;
      in_b.erase(found);
    }
    difference.partitions.push_back(partition);
  }
  for (const auto& [occurrence, index] : PartitionsOf(b)) {
    if (!in_b.contains(occurrence)) continue;
    std::span<const uint8_t> new_data = b.Partition(index);
    difference.partitions.push_back({occurrence.name,
                                     PartChange::kAdded,
                                     {},
                                     static_cast<uint32_t>(new_data.size()),
                                     {},
                                     CrcOf(new_data)});
  }
}

void CompareText(std::string what, std::string old_text, std::string new_text,
                 ImageDifference& difference) {
  if (old_text != new_text)
    difference.texts.push_back({std::move(what), std::move(old_text), std::move(new_text)});
}

HttpSettings SettingsOf(const FlashImage& image) {
  std::string ini;
  if (std::optional<std::span<const uint8_t>> httpcfg = image.HttpCfg())
    ini.assign(httpcfg->begin(), httpcfg->end());
  return ReadHttpSettings(ini);
}

void CompareSettings(const FlashImage& a, const FlashImage& b, ImageDifference& difference) {
  CompareText("model id", ModelIdText(a.ModelId()), ModelIdText(b.ModelId()), difference);
  const HttpSettings old_settings = SettingsOf(a), new_settings = SettingsOf(b);
  for (size_t i = 0; i < kHttpSettingKeys.size(); ++i)
    CompareText(kHttpSettingKeys[i].key, old_settings[i], new_settings[i], difference);
}

void CompareIdentity(const ManufacturerBlock& a, const ManufacturerBlock& b,
                     ImageDifference& difference) {
  CompareText("IDENT_NOCHECH", std::to_string(a.ident_nocheck), std::to_string(b.ident_nocheck),
              difference);
  const std::pair<const char*, std::pair<std::span<const uint8_t>, std::span<const uint8_t>>>
      texts[] = {{"MANUFACTURE_IDENT", {a.manufacture_ident, b.manufacture_ident}},
                 {"HARDWARE_MODULE", {a.hardware_module, b.hardware_module}},
                 {"HARDWARE_VERSION", {a.hardware_version, b.hardware_version}},
                 {"SOFTWARE_MODULE", {a.software_module, b.software_module}},
                 {"SOFTWARE_VERSION", {a.software_version, b.software_version}}};
  for (const auto& [what, fields] : texts)
    CompareText(what, FieldText(fields.first), FieldText(fields.second), difference);
  CompareText("STB_ID", Hex(ReadLe64(a.stb_id.data()), 16), Hex(ReadLe64(b.stb_id.data()), 16),
              difference);
}

// A region record as the comparison sees it. The CRC of a region with check flag 1 is made
// anew by every build from the region's bytes, whose changes the partitions show already: what
// counts of it is whether it matches them.
std::vector<std::string> RegionTexts(const FlashImage& image) {
  std::vector<std::string> texts;
  const ManufacturerBlock& block = image.manufacturer();
  for (const RegionCheck& check : CheckRegions(image.bytes(), image.layout(), block)) {
    const RegionRecord& record = block.regions[check.index];
    std::string text = "tag " + std::to_string(record.tag) + ", start " + Hex(record.start, 8) +
                       ", length " + Hex(record.length, 6) + ", check " +
                       std::to_string(record.check_flag);
    text += record.check_flag == 1 ? std::string(", crc ") + RegionStateName(check.state)
                                   : ", crc " + Hex(record.crc, 8);
    texts.push_back(text);
  }
  return texts;
}

void CompareRegions(const FlashImage& a, const FlashImage& b, ImageDifference& difference) {
  difference.region_count_differs = a.manufacturer().region_count != b.manufacturer().region_count;
  const std::vector<std::string> old_texts = RegionTexts(a), new_texts = RegionTexts(b);
  for (size_t i = 0; i < std::max(old_texts.size(), new_texts.size()); ++i) {
    const std::string old_record = i < old_texts.size() ? old_texts[i] : "";
    const std::string new_record = i < new_texts.size() ? new_texts[i] : "";
    if (old_record != new_record)
      difference.regions.push_back({static_cast<int>(i), old_record, new_record});
  }
  const auto block_state = [](const FlashImage& image) {
    return BlockCrcInImage(image.bytes(), image.layout()) == image.manufacturer().block_crc
               ? std::string("matches")
               : std::string("differs");
  };
  CompareText("block CRC", block_state(a), block_state(b), difference);
}

// The stretches outside the partitions that a build carries over or replaces whole; both
// images are of one variant, so they lie at the same places in both.
void CompareAreas(const FlashImage& a, const FlashImage& b, ImageDifference& difference) {
  const VariantLayout& layout = a.layout();
  std::vector<std::pair<std::string, FileRange>> areas;
  if (!a.BootArea().empty()) areas.push_back({"boot area", {0, kBootAreaSize}});
  for (const FileRange& range : PreservedRanges(layout))
    areas.push_back({"carried range " + Hex(range.offset), range});
  // An app image ends before the database and key regions.
  if (a.variant() != kAppImage) {
    areas.push_back({"default database", {layout.default_region, kDefaultRegionSize}});
    areas.push_back({"key block", {layout.key_region, kKeyRegionSize}});
  }
  for (const auto& [name, range] : areas) {
    const std::span<const uint8_t> old_bytes = a.Range(range.offset, range.length);
    const std::span<const uint8_t> new_bytes = b.Range(range.offset, range.length);
    if (!std::equal(old_bytes.begin(), old_bytes.end(), new_bytes.begin(), new_bytes.end())) {
      difference.areas.push_back(
          {name, range.offset, range.length, CrcOf(old_bytes), CrcOf(new_bytes)});
    }
  }
}

}  // namespace

bool ImageDifference::Equal() const {
  for (const PartitionDifference& partition : partitions) {
    if (partition.change != PartChange::kUnchanged) return false;
  }
  return texts.empty() && regions.empty() && !region_count_differs && areas.empty() &&
         !other_bytes_differ_at;
}

Result<ImageDifference> CompareImages(const FlashImage& a, const FlashImage& b) {
  if (a.variant() != b.variant()) {
    return Fail("variant", -1,
                "the images are of different variants (" + std::to_string(a.variant()) + " and " +
                    std::to_string(b.variant()) + ")");
  }
  ImageDifference difference;
  difference.variant = a.variant();
  ComparePartitions(a, b, difference);
  CompareSettings(a, b, difference);
  CompareIdentity(a.manufacturer(), b.manufacturer(), difference);
  CompareRegions(a, b, difference);
  CompareAreas(a, b, difference);
  if (difference.Equal()) {
    const std::span<const uint8_t> old_bytes = a.bytes(), new_bytes = b.bytes();
    const auto at =
        std::mismatch(old_bytes.begin(), old_bytes.end(), new_bytes.begin(), new_bytes.end()).first;
    if (at != old_bytes.end() || old_bytes.size() != new_bytes.size())
      difference.other_bytes_differ_at = static_cast<uint64_t>(at - old_bytes.begin());
  }
  return difference;
}

}  // namespace qv
