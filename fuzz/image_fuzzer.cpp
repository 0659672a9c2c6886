// The readers of a flash image together, as opening one runs them: boot area, partition
// directory, the directory check, partitions, manufacturer block and its manufacturer.cfg
// lines, model id, httpcfg.ini and the HTTP settings; then the manufacturer block written back
// over a copy of the image (region CRCs over whatever the records say).
//
// The image is a sound one from the test image builder (TemplateImageSpec) with the input laid
// over it, so the fuzzer starts from a sound image and reaches deep states at once:
//   byte 0         bits 0-1: variant (app, all, full, all); bit 2: also build a merged image
//                  from a sound directory (large partitions, settings stored, small partitions
//                  re-packed, manufacturer block sealed)
//   next 3,844     laid over the partition directory
//   next 4,096     laid over the manufacturer block
//   the rest       laid over the data of the "httpcfg" partition (at most 51,200 bytes)
// A shorter input lays over a shorter stretch; the image keeps its other bytes.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/job_state.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/image_template.h"
#include "image/manufacturer_block.h"
#include "image/merged_image.h"
#include "image/partition_directory.h"
#include "image/partitions.h"
#include "image/settings.h"
#include "image/variant.h"
#include "platform/file.h"
#include "tests/support/image_builder.h"

namespace {

using namespace qv;

// A sound image of one variant, and two files holding it: the working image the readers
// read and a copy the manufacturer block is written into.
struct Template {
  explicit Template(Variant v)
      : variant(v),
        image(testing::BuildFlashImage(fuzz::TemplateImageSpec(v))),
        working(image),
        copy(image) {
    const VariantLayout& layout = *LayoutOf(variant);
    PartitionDirectory directory;
    directory.Decode(std::span(image).subspan(layout.directory_offset).first<kDirectorySize>());
    for (int i = 0; i < directory.UsableCount(); ++i) {
      if (directory.entries[i].NameIs("httpcfg"))
        httpcfg_offset = layout.area_base + directory.entries[i].offset;
    }
  }

  // Puts the template's own bytes back over a stretch that an input changed.
  void Restore(fuzz::MemoryFile& file, uint32_t offset, size_t length) const {
    file.WriteAt(offset, std::span(image).subspan(offset, length));
  }

  Variant variant;
  std::vector<uint8_t> image;
  fuzz::MemoryFile working;
  fuzz::MemoryFile copy;
  uint32_t httpcfg_offset = 0;
};

Template& TemplateOf(Variant variant) {
  static std::array<std::unique_ptr<Template>, 3> templates;
  size_t index = variant == kAppImage ? 0 : variant == kAllImage ? 1 : 2;
  if (!templates[index]) templates[index] = std::make_unique<Template>(variant);
  return *templates[index];
}

// The one job of the run, back in its reset state. The buffers are erased with memset: the
// job reset's own byte loops, built with the undefined-behaviour checks, would take most of
// each run. Everything else the readers below fill themselves.
JobState& ResetJob() {
  static JobState* job = new JobState();
  for (std::vector<uint8_t>* buffer :
       {&job->app_code, &job->audio_firmware, &job->video_firmware, &job->slots, &job->boot_area}) {
    std::memset(buffer->data(), 0xFF, buffer->size());
  }
  job->manufacturer.Fill(0xFF);
  job->directory.Fill(0xFF);
  for (std::string& setting : job->http_settings)
    setting.clear();
  return *job;
}

// Start without the converters: the merged image from the job, a new default database and
// key block in their regions, settings stored, the small partitions re-packed and the
// manufacturer block sealed. Every partition the new directory lists must then read back from
// the merged image as the job holds it: nothing written later may have landed on one.
void BuildMerged(JobState& job, const VariantLayout& layout) {
  const std::string merged = fuzz::ScratchDirectory() + "merged.bin";
  if (!BuildMergedImage(job, merged)) __builtin_trap();
  {
    File file = File::Open(merged, File::Mode::kReadWrite);
    file.WriteAt(layout.default_region, std::vector<uint8_t>(kDefaultRegionSize, 0xDB));
    file.WriteAt(layout.key_region, std::vector<uint8_t>(kKeyRegionSize, 0x4B));
  }
  StoreSetting(job, 0, "QV-FUZZ-0001");
  StoreSetting(job, 1, "http://updates.example.net/stb/");
  StoreSetting(job, 7, "key_fuzz.dld");
  RepackResult repacked = WritePartitionsAndDirectory(job, merged);
  WriteManufacturerBlock(job, merged);
  if (!repacked) return;

  File file = File::Open(merged, File::Mode::kRead);
  if (FindDirectoryProblem(job, file.Size())) __builtin_trap();  // still sound
  std::vector<uint8_t> bytes;
  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = job.directory.entries[i];
    std::span<const uint8_t> held = PartitionBuffer(job, i).first(entry.Length());
    bytes.assign(held.size(), 0);
    file.ReadAt(int64_t{layout.area_base} + entry.offset, bytes);
    if (!std::equal(bytes.begin(), bytes.end(), held.begin())) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static constexpr Variant kVariants[] = {kAppImage, kAllImage, kFullImage, kAllImage};
  Template& model = TemplateOf(kVariants[data[0] & 3]);
  const bool build = (data[0] & 4) != 0;
  const VariantLayout& layout = *LayoutOf(model.variant);

  struct Stretch {
    uint32_t offset;
    size_t length;
  };
  std::vector<Stretch> changed;
  size_t at = 1;
  for (auto [offset, capacity] :
       {std::pair<uint32_t, size_t>{layout.directory_offset, kDirectorySize},
        {layout.manufacturer_offset, kManufacturerBlockSize},
        {model.httpcfg_offset, kSlotSize}}) {
    size_t length = std::min(capacity, size - at);
    model.working.WriteAt(offset, std::span(data + at, length));
    changed.push_back({offset, length});
    at += length;
  }

  JobState& job = ResetJob();
  job.partition_count = PartitionCountOfVariant(model.variant);
  job.working_directory = fuzz::ScratchDirectory();
  job.working_image_path = model.working.path();
  const std::string& path = job.working_image_path;

  ReadBootArea(job, path);
  ReadPartitionDirectory(job, path);
  std::optional<std::string> problem = FindDirectoryProblem(job, layout.file_size);
  // Opening refuses an unsafe directory, but the readers stay inside their buffers whatever
  // the directory says.
  ReadPartitions(job, path);
  ReadManufacturerBlock(job, path);
  BuildManufacturerCfgLines(job);
  ReadModelId(job, path);
  RemoveFile(job.working_directory + kHttpCfgFileName);
  ExtractHttpCfg(job);
  LoadHttpSettings(job);

  WriteManufacturerBlock(job, model.copy.path());
  model.Restore(model.copy, layout.manufacturer_offset, kManufacturerBlockSize);
  if (build && !problem) BuildMerged(job, layout);

  for (const Stretch& stretch : changed)
    model.Restore(model.working, stretch.offset, stretch.length);
  return 0;
}
