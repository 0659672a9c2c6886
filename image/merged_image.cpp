#include "image/merged_image.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/job_state.h"
#include "image/partitions.h"
#include "image/variant.h"
#include "platform/file.h"
#include "platform/hex.h"

namespace qv {

namespace {

constexpr size_t kCopyPiece = 512 * 1024;  // carried-over ranges go through one buffer this size

uint64_t RoundUp16Wide(uint64_t value) {
  return (value + 15) & ~uint64_t{15};
}

std::string Describe(const DirectoryEntry& entry, int index) {
  return "partition \"" + entry.Name() + "\" (directory entry " + std::to_string(index) + ")";
}

void CopyRange(const File& from, File& to, const FileRange& range, std::vector<uint8_t>& buffer) {
  for (uint32_t done = 0; done < range.length;) {
    size_t piece = std::min<size_t>(buffer.size(), range.length - done);
    std::span<uint8_t> chunk(buffer.data(), piece);
    std::fill(chunk.begin(), chunk.end(), 0xFF);
    from.ReadAt(range.offset + done, chunk);
    to.WriteAt(range.offset + done, chunk);
    done += static_cast<uint32_t>(piece);
  }
}

}  // namespace

uint32_t RoundUp16(uint32_t value) {
  return static_cast<uint32_t>(RoundUp16Wide(value));
}

bool BuildMergedImage(const JobState& job, const std::string& merged_path) {
  const VariantLayout* layout = LayoutOf(VariantFromPartitionCount(job.partition_count));
  if (!layout) return false;
  File merged = File::Open(merged_path, File::Mode::kCreate);

  std::vector<uint8_t> erased(kBlockSize, 0xFF);
  for (uint32_t block = 0; block < layout->erased_blocks; ++block) {
    merged.WriteAt(int64_t{block} * kBlockSize, erased);
  }
  if (layout->variant == kFullImage) merged.WriteAt(0, job.boot_area);

  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = job.directory.entries[i];
    if (!IsLargePartition(entry)) continue;  // small partitions are written when re-packed
    std::span<const uint8_t> buffer = PartitionBuffer(job, i);
    merged.WriteAt(int64_t{layout->area_base} + entry.offset,
                   buffer.first(std::min<size_t>(entry.Length(), buffer.size())));
  }

  if (layout->preserved_count > 0) {
    File working = File::Open(job.working_image_path, File::Mode::kRead);
    std::vector<uint8_t> buffer(kCopyPiece);
    for (int i = 0; i < layout->preserved_count; ++i)
      CopyRange(working, merged, layout->preserved[i], buffer);
  }
  return true;
}

int64_t FreePartitionSpace(const JobState& job) {
  int64_t used = 0;
  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    used += static_cast<int64_t>(RoundUp16Wide(job.directory.entries[i].Length()));
  }
  return int64_t{kPartitionSpace} - used;
}

bool ReplacementOverflows(const JobState& job, int index, uint32_t new_length) {
  if (new_length > kSlotSize) return true;
  int64_t room = FreePartitionSpace(job) +
                 static_cast<int64_t>(RoundUp16Wide(job.directory.entries[index].Length()));
  return room < static_cast<int64_t>(RoundUp16Wide(new_length));
}

ReplaceResult ReplacePartition(JobState& job, const std::string& path, uint32_t length,
                               const std::string& file_name) {
  const std::string lookup = file_name.size() >= 4 ? file_name.substr(0, file_name.size() - 4) : "";
  PartitionDirectory& directory = job.directory;
  const int count = directory.UsableCount();
  int found = -1;
  for (int i = 0; i < count && found < 0; ++i) {
    if (directory.entries[i].NameIs(lookup) || directory.entries[i].NameIs(file_name)) found = i;
  }

  if (found >= 0) {
    if (ReplacementOverflows(job, found, length)) return ReplaceResult::kDoesNotFit;
  } else if (count >= kMaxEntries || length > kSlotSize ||
             static_cast<int64_t>(RoundUp16Wide(length)) > FreePartitionSpace(job)) {
    return ReplaceResult::kNoRoomToAppend;
  }

  File file = File::Open(path, File::Mode::kRead);
  const int index = found >= 0 ? found : count;
  std::span<uint8_t, kSlotSize> slot = job.Slot(index);
  std::fill(slot.begin(), slot.end(), 0xFF);
  file.ReadAt(0, slot.first(length));
  DirectoryEntry& entry = directory.entries[index];
  if (found >= 0) {
    entry.SetLength(length);
    return ReplaceResult::kReplaced;
  }
  // The new entry's offset comes with the re-packing; its other fields keep what they held.
  entry.length_selector = 0;
  entry.second_length = length;
  entry.SetName(file_name);
  directory.entry_count = static_cast<uint32_t>(count + 1);
  return ReplaceResult::kAppended;
}

RepackResult WritePartitionsAndDirectory(JobState& job, const std::string& merged_path) {
  const VariantLayout* layout = LayoutOf(VariantFromPartitionCount(job.partition_count));
  if (!layout) return {false, "the image variant is not recognised"};
  PartitionDirectory& directory = job.directory;
  const int count = directory.UsableCount();

  // The new layout: each small partition at the first multiple of 16 after the entry before it.
  std::vector<uint64_t> starts(count), ends(count);
  for (int i = 0; i < count; ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    bool moves = i > 0 && !IsLargePartition(entry);
    starts[i] = moves ? RoundUp16Wide(ends[i - 1]) : entry.offset;
    ends[i] = starts[i] + entry.Length();
  }

  // Checked before anything is written: every small partition (moved, or at index 0 in its
  // place with what it now holds) stays inside the partition space and clear of every other
  // partition.
  for (int i = 0; i < count; ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    if (IsLargePartition(entry)) continue;
    if (ends[i] > kPartitionSpace) {
      return {false, "the " + Describe(entry, i) + " would end at offset " + Hex(ends[i]) +
                         ", past the partition space, which ends at " + Hex(kPartitionSpace) +
                         " where the partition directory begins"};
    }
    for (int j = 0; j < count; ++j) {
      if (j == i || starts[i] == ends[i] || starts[j] == ends[j]) continue;
      if (starts[i] < ends[j] && starts[j] < ends[i]) {
        return {false, "the " + Describe(entry, i) + " would lie at offsets " + Hex(starts[i]) +
                           " to " + Hex(ends[i]) + ", over the " +
                           Describe(directory.entries[j], j) + " at " + Hex(starts[j]) + " to " +
                           Hex(ends[j])};
      }
    }
  }

  File merged = File::Open(merged_path, File::Mode::kReadWrite);
  for (int i = 0; i < count; ++i) {
    DirectoryEntry& entry = directory.entries[i];
    if (IsLargePartition(entry)) continue;
    entry.offset = static_cast<uint32_t>(starts[i]);
    std::span<const uint8_t> slot = job.Slot(i);
    merged.WriteAt(int64_t{layout->area_base} + entry.offset,
                   slot.first(std::min<size_t>(entry.Length(), kSlotSize)));
  }
  std::array<uint8_t, kDirectorySize> bytes;
  directory.Encode(bytes);
  merged.WriteAt(layout->directory_offset, bytes);
  return {true, ""};
}

}  // namespace qv
