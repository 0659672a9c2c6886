#include "image/merged_image.h"

#include <algorithm>
#include <string>

#include "platform/hex.h"

namespace qv {

namespace {

// Where each partition of the directory lies once the small ones are re-packed.
struct Placement {
  uint64_t start;
  uint64_t end;
};

std::string Describe(const DirectoryEntry& entry, int index) {
  return "partition \"" + entry.Name() + "\" (directory entry " + std::to_string(index) + ")";
}

int64_t EntryOffset(const VariantLayout& layout, int index) {
  return int64_t{layout.directory_offset} + int64_t{index} * kEntrySize;
}

// The re-packed layout: each small partition at the first multiple of 16 after the end of the
// entry before it; large partitions and a small partition at index 0 stay where they are.
std::vector<Placement> RepackedPlacements(const PartitionDirectory& directory) {
  std::vector<Placement> placements(static_cast<size_t>(directory.UsableCount()));
  for (size_t i = 0; i < placements.size(); ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    const bool moves = i > 0 && !IsLargePartition(entry);
    const uint64_t start = moves ? (placements[i - 1].end + 15) & ~uint64_t{15} : entry.offset;
    placements[i] = {start, start + entry.Length()};
  }
  return placements;
}

// Every small partition (moved, or at index 0 in its place with what it now holds) must stay
// inside the partition space and clear of every other partition.
std::optional<Error> FindRepackProblem(const PartitionDirectory& directory,
                                       const std::vector<Placement>& placements,
                                       const VariantLayout& layout) {
  const int count = static_cast<int>(placements.size());
  for (int i = 0; i < count; ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    if (IsLargePartition(entry)) continue;
    const Placement& own = placements[i];
    if (own.end > kPartitionSpace) {
      return Error{"offset", EntryOffset(layout, i),
                   "the " + Describe(entry, i) + " would end at offset " + Hex(own.end) +
                       ", past the partition space, which ends at " + Hex(kPartitionSpace) +
                       " where the partition directory begins"};
    }
    for (int j = 0; j < count; ++j) {
      const Placement& other = placements[j];
      if (j == i || own.start == own.end || other.start == other.end) continue;
      if (own.start < other.end && other.start < own.end) {
        return Error{"offset", EntryOffset(layout, i),
                     "the " + Describe(entry, i) + " would lie at offsets " + Hex(own.start) +
                         " to " + Hex(own.end) + ", over the " + Describe(directory.entries[j], j) +
                         " at " + Hex(other.start) + " to " + Hex(other.end)};
      }
    }
  }
  return std::nullopt;
}

// The erased blocks, the boot area of a full image, the large partitions and the carried ranges.
std::vector<uint8_t> StartMergedImage(const FlashImage& image, const PartitionEdits& partitions) {
  const VariantLayout& layout = image.layout();
  std::vector<uint8_t> merged(size_t{layout.erased_blocks} * kBlockSize, 0xFF);
  WriteAt(merged, 0, image.BootArea());
  const PartitionDirectory& directory = partitions.directory();
  for (int i = 0; i < directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    if (IsLargePartition(entry))
      WriteAt(merged, uint64_t{layout.area_base} + entry.offset, partitions.Data(i));
  }
  for (const FileRange& range : PreservedRanges(layout))
    WriteAt(merged, range.offset, image.Range(range.offset, range.length));
  return merged;
}

// The database and key regions: the replacements, or what an all or full image holds there.
void PlaceRegions(const FlashImage& image, const Replacements& replacements,
                  std::vector<uint8_t>& merged) {
  const VariantLayout& layout = image.layout();
  const bool carries = image.variant() != kAppImage;
  if (replacements.default_database) {
    WriteAt(merged, layout.default_region, *replacements.default_database);
  } else if (carries) {
    WriteAt(merged, layout.default_region, image.Range(layout.default_region, kDefaultRegionSize));
  }
  if (replacements.key_block) {
    WriteAt(merged, layout.key_region, *replacements.key_block);
  } else if (carries) {
    WriteAt(merged, layout.key_region, image.Range(layout.key_region, kKeyRegionSize));
  }
}

// The small partitions at their new offsets, and the directory that lists them there.
void WriteSmallPartitionsAndDirectory(const PartitionEdits& partitions,
                                      const std::vector<Placement>& placements,
                                      const VariantLayout& layout, std::vector<uint8_t>& merged) {
  PartitionDirectory directory = partitions.directory();
  for (size_t i = 0; i < placements.size(); ++i) {
    DirectoryEntry& entry = directory.entries[i];
    if (IsLargePartition(entry)) continue;
    entry.offset = static_cast<uint32_t>(placements[i].start);
    WriteAt(merged, uint64_t{layout.area_base} + entry.offset,
            partitions.Data(static_cast<int>(i)));
  }
  std::array<uint8_t, kDirectorySize> bytes;
  directory.Encode(bytes);
  WriteAt(merged, layout.directory_offset, bytes);
}

}  // namespace

void WriteAt(std::vector<uint8_t>& image, uint64_t offset, std::span<const uint8_t> data) {
  if (data.empty()) return;
  if (offset + data.size() > image.size()) image.resize(offset + data.size(), 0);
  std::copy(data.begin(), data.end(), image.begin() + static_cast<ptrdiff_t>(offset));
}

Result<std::vector<uint8_t>> BuildMergedImage(const FlashImage& image,
                                              const Replacements& replacements) {
  const VariantLayout& layout = image.layout();
  const PartitionEdits& partitions = replacements.partitions;
  const std::vector<Placement> placements = RepackedPlacements(partitions.directory());
  if (std::optional<Error> problem = FindRepackProblem(partitions.directory(), placements, layout))
    return tl::unexpected<Error>(std::move(*problem));

  std::vector<uint8_t> merged = StartMergedImage(image, partitions);
  PlaceRegions(image, replacements, merged);
  WriteSmallPartitionsAndDirectory(partitions, placements, layout, merged);
  ManufacturerBlock block = image.manufacturer();
  SealManufacturerBlock(block, layout, merged);
  return merged;
}

}  // namespace qv
