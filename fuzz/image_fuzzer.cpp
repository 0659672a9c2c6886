// The readers of a flash image together, as opening one runs them: the image parsed (partition
// directory, the directory check, manufacturer block), the views of its boot area, partitions,
// model id and httpcfg.ini, the HTTP settings and the manufacturer.cfg lines; then the
// manufacturer block sealed over a copy of the image (region CRCs over whatever the records
// say).
//
// The image is a sound one from the sample image builder (TemplateImageSpec) with the input
// laid over it, so the fuzzer starts from a sound image and reaches deep states at once:
//   byte 0         bits 0-1: variant (app, all, full, all); bit 2: also build a merged image
//                  from an accepted image (new database and key regions, settings stored,
//                  small partitions re-packed, manufacturer block sealed)
//   next 3,844     laid over the partition directory
//   next 4,096     laid over the manufacturer block
//   the rest       laid over the data of the "httpcfg" partition (at most 51,200 bytes)
// A shorter input lays over a shorter stretch; the image keeps its other bytes.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz/image_template.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "image/merged_image.h"
#include "image/partition_directory.h"
#include "image/partition_edits.h"
#include "image/settings.h"
#include "image/variant.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "sample/image_builder.h"

namespace {

using namespace qv;

// A sound image of one variant, where its "httpcfg" partition lies, and a copy that the
// manufacturer block is sealed over.
struct Template {
  explicit Template(Variant v)
      : variant(v), image(sample::BuildFlashImage(fuzz::TemplateImageSpec(v))), copy(image) {
    const VariantLayout& layout = *LayoutOf(variant);
    const PartitionDirectory directory = DecodeDirectoryAt(image, layout);
    for (int i = 0; i < directory.UsableCount(); ++i) {
      if (directory.entries[i].NameIs("httpcfg"))
        httpcfg_offset = layout.area_base + directory.entries[i].offset;
    }
  }

  // Puts the template's own bytes back over a stretch that was changed.
  void Restore(std::vector<uint8_t>& bytes, uint32_t offset, size_t length) const {
    std::copy_n(image.begin() + offset, length, bytes.begin() + offset);
  }

  Variant variant;
  std::vector<uint8_t> image;
  std::vector<uint8_t> copy;
  uint32_t httpcfg_offset = 0;
};

Template& TemplateOf(Variant variant) {
  static std::array<std::unique_ptr<Template>, 3> templates;
  size_t index = variant == kAppImage ? 0 : variant == kAllImage ? 1 : 2;
  if (!templates[index]) templates[index] = std::make_unique<Template>(variant);
  return *templates[index];
}

bool Inside(std::span<const uint8_t> view, std::span<const uint8_t> bytes) {
  return view.empty() ||
         (view.data() >= bytes.data() && view.data() + view.size() <= bytes.data() + bytes.size());
}

// Every view of an accepted image lies inside its bytes, and what the tool makes of them.
void ReadViews(const FlashImage& image) {
  const std::span<const uint8_t> bytes = image.bytes();
  const PartitionDirectory& directory = image.directory();
  for (int i = 0; i < directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    // Parse promised this before any view is taken.
    if (uint64_t{image.layout().area_base} + entry.offset + entry.Length() > bytes.size())
      __builtin_trap();
    std::span<const uint8_t> partition = image.Partition(i);
    if (partition.size() != entry.Length() || !Inside(partition, bytes)) __builtin_trap();
  }
  if (!Inside(image.BootArea(), bytes)) __builtin_trap();
  const std::string model_id = ModelIdText(image.ModelId());
  if (model_id.find('\0') != std::string::npos) __builtin_trap();
  if (std::optional<std::span<const uint8_t>> httpcfg = image.HttpCfg()) {
    if (!Inside(*httpcfg, bytes)) __builtin_trap();
    ReadHttpSettings(std::string(httpcfg->begin(), httpcfg->end()));
  }
  ManufacturerCfgLines(image.manufacturer());
}

// Start without the converters: the merged image from the accepted image, with a new default
// database and key block, the model id and two HTTP settings stored as Start stores them. The
// merged image must parse again, and every partition its directory lists must read back from
// its bytes as the edits hold it: nothing written later may have landed on one.
void BuildMerged(const FlashImage& image) {
  const VariantLayout& layout = image.layout();
  Replacements replacements(image);
  replacements.default_database.emplace(kDefaultRegionSize, 0xDB);
  replacements.key_block.emplace(kKeyRegionSize, 0x4B);
  PartitionEdits& partitions = replacements.partitions;
  if (!partitions.StoreModelId("QV-FUZZ-0001")) __builtin_trap();
  std::string ini;
  if (std::optional<std::span<const uint8_t>> httpcfg = image.HttpCfg())
    ini.assign(httpcfg->begin(), httpcfg->end());
  HttpSettings settings = ReadHttpSettings(ini);
  for (auto [kind, text] :
       {std::pair{SettingKind::kHttpManualAddr, "http://updates.example.net/stb/"},
        std::pair{SettingKind::kAutoKey, "key_fuzz.dld"}}) {
    settings[static_cast<size_t>(IndexOf(kind) - 1)] = text;
    ini = WriteHttpSettings(ini, settings);
    if (!partitions.StoreHttpCfg(BytesOf(ini))) return;  // Start stops: httpcfg.ini too large
  }

  Result<std::vector<uint8_t>> merged = BuildMergedImage(image, replacements);
  if (!merged) {
    if (merged.error().text.empty()) __builtin_trap();
    return;  // the re-packed partitions do not fit: Start stops, nothing is written
  }
  if (merged->size() < layout.file_size) __builtin_trap();
  if (!std::all_of(merged->begin() + layout.default_region,
                   merged->begin() + layout.default_region + kDefaultRegionSize,
                   [](uint8_t b) { return b == 0xDB; }) ||
      !std::all_of(merged->begin() + layout.key_region,
                   merged->begin() + layout.key_region + kKeyRegionSize,
                   [](uint8_t b) { return b == 0x4B; })) {
    __builtin_trap();
  }

  Result<FlashImage> reparsed = FlashImage::Parse(std::move(*merged), image.variant());
  if (!reparsed) __builtin_trap();  // still sound
  const PartitionDirectory& directory = reparsed->directory();
  if (directory.entry_count != partitions.directory().entry_count) __builtin_trap();
  for (int i = 0; i < directory.UsableCount(); ++i) {
    std::span<const uint8_t> written = reparsed->Partition(i);
    std::span<const uint8_t> held = partitions.Data(i);
    if (!std::equal(written.begin(), written.end(), held.begin(), held.end())) __builtin_trap();
  }
  if (ReadLe32(&reparsed->bytes()[layout.manufacturer_offset + kBlockCrcOffset]) !=
      BlockCrcInImage(reparsed->bytes(), layout)) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr Variant kVariants[] = {kAppImage, kAllImage, kFullImage, kAllImage};
  Template& model = TemplateOf(kVariants[data[0] & 3]);
  const bool build = (data[0] & 4) != 0;
  const VariantLayout& layout = *LayoutOf(model.variant);

  std::vector<uint8_t> bytes = model.image;
  size_t at = 1;
  for (auto [offset, capacity] :
       {std::pair<uint32_t, size_t>{layout.directory_offset, kDirectorySize},
        {layout.manufacturer_offset, kManufacturerBlockSize},
        {model.httpcfg_offset, kSlotSize}}) {
    size_t length = std::min(capacity, size - at);
    std::copy_n(data + at, length, bytes.begin() + offset);
    at += length;
  }

  // What `quorvane info` shows of any image, and the check that opening makes.
  const PartitionDirectory directory = DecodeDirectoryAt(bytes, layout);
  const ManufacturerBlock manufacturer = DecodeManufacturerBlockAt(bytes, layout);
  ManufacturerCfgLines(manufacturer);
  const std::optional<Error> problem =
      FindDirectoryProblem(directory, layout, static_cast<int64_t>(bytes.size()));

  // The manufacturer block as the input gives it, sealed over the template's image.
  ManufacturerBlock sealed = manufacturer;
  SealManufacturerBlock(sealed, layout, model.copy);
  if (ReadLe32(&model.copy[layout.manufacturer_offset + kBlockCrcOffset]) !=
      BlockCrcInImage(model.copy, layout)) {
    __builtin_trap();
  }
  model.Restore(model.copy, layout.manufacturer_offset, kManufacturerBlockSize);

  // Opening accepts exactly the images whose directory is sound, and refuses the others with
  // the check's own sentence.
  Result<FlashImage> image = FlashImage::Parse(std::move(bytes), model.variant);
  if (image.has_value() == problem.has_value()) __builtin_trap();
  if (!image) {
    if (image.error().text != problem->text || image.error().text.empty()) __builtin_trap();
    return 0;
  }
  ReadViews(*image);
  if (build) BuildMerged(*image);
  return 0;
}
