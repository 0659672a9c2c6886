#include "image/partitions.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "app/job_state.h"
#include "image/variant.h"
#include "platform/file.h"
#include "platform/hex.h"

namespace qv {

namespace {

enum class Target { kAppCode, kAudioFirmware, kVideoFirmware, kSlot };

Target TargetOf(const DirectoryEntry& entry) {
  if (entry.NameIs("appcode")) return Target::kAppCode;
  if (entry.NameIs("fw_audio")) return Target::kAudioFirmware;
  if (entry.NameIs("fw_video")) return Target::kVideoFirmware;
  return Target::kSlot;
}

const char* TargetDescription(Target target) {
  switch (target) {
    case Target::kAppCode:
      return "application code buffer";
    case Target::kAudioFirmware:
      return "audio firmware buffer";
    case Target::kVideoFirmware:
      return "video firmware buffer";
    case Target::kSlot:
      return "partition slot";
  }
  return "";
}

// The entry's name as a message can show it: printable ASCII kept, other bytes as \xNN.
std::string PrintableName(const DirectoryEntry& entry) {
  std::string shown;
  for (unsigned char c : entry.Name()) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown;
}

uint32_t AreaBaseOf(const JobState& job) {
  const VariantLayout* layout = LayoutOf(VariantFromPartitionCount(job.partition_count));
  return layout ? layout->area_base : 0;
}

}  // namespace

bool IsLargePartition(const DirectoryEntry& entry) {
  return TargetOf(entry) != Target::kSlot;
}

std::span<uint8_t> PartitionBuffer(JobState& job, int index) {
  switch (TargetOf(job.directory.entries[index])) {
    case Target::kAppCode:
      return job.app_code;
    case Target::kAudioFirmware:
      return job.audio_firmware;
    case Target::kVideoFirmware:
      return job.video_firmware;
    case Target::kSlot:
      break;
  }
  return job.Slot(index);
}

std::span<const uint8_t> PartitionBuffer(const JobState& job, int index) {
  return PartitionBuffer(const_cast<JobState&>(job), index);
}

void ReadBootArea(JobState& job, const std::string& path) {
  if (VariantFromPartitionCount(job.partition_count) != kFullImage) return;
  std::fill(job.boot_area.begin(), job.boot_area.end(), 0xFF);
  File file = File::Open(path, File::Mode::kRead);
  file.ReadAt(0, job.boot_area);
}

void ReadPartitionDirectory(JobState& job, const std::string& path) {
  job.directory.Fill(0);
  const VariantLayout* layout = LayoutOf(VariantFromPartitionCount(job.partition_count));
  if (!layout) return;
  std::array<uint8_t, kDirectorySize> bytes{};
  File file = File::Open(path, File::Mode::kRead);
  file.ReadAt(layout->directory_offset, bytes);
  job.directory.Decode(bytes);
}

void ReadPartitions(JobState& job, const std::string& path) {
  uint32_t base = AreaBaseOf(job);
  File file = File::Open(path, File::Mode::kRead);
  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = job.directory.entries[i];
    std::span<uint8_t> target = PartitionBuffer(job, i);
    size_t length = std::min<size_t>(entry.Length(), target.size());
    file.ReadAt(int64_t{base} + entry.offset, target.first(length));
  }
}

std::optional<std::string> FindDirectoryProblem(const JobState& job, int64_t image_size) {
  const VariantLayout* layout = LayoutOf(VariantFromPartitionCount(job.partition_count));
  if (!layout) return std::nullopt;
  const PartitionDirectory& directory = job.directory;
  std::string where = "the partition directory at file offset " + Hex(layout->directory_offset);
  if (directory.entry_count > kMaxEntries) {
    return where + " has an entry count of " + std::to_string(directory.entry_count) +
           "; it holds at most " + std::to_string(kMaxEntries) + " entries";
  }
  std::array<int, 3> first_large = {-1, -1, -1};  // the entry each large buffer belongs to
  for (int i = 0; i < directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = directory.entries[i];
    std::string which =
        "partition directory entry " + std::to_string(i) + " (\"" + PrintableName(entry) + "\")";
    uint64_t length = entry.Length();
    std::string length_field = entry.length_selector == 1 ? "first length" : "second length";
    uint64_t capacity = PartitionBuffer(job, i).size();
    if (length > capacity) {
      return which + " has a " + length_field + " of " + std::to_string(length) +
             " bytes, more than its " + std::to_string(capacity) + "-byte " +
             TargetDescription(TargetOf(entry));
    }
    uint64_t start = uint64_t{layout->area_base} + entry.offset;
    if (start + length > static_cast<uint64_t>(image_size)) {
      return which + ": its data at file offset " + Hex(start) + " with its " + length_field +
             " of " + Hex(length) + " bytes ends past the end of the " + Hex(image_size) +
             "-byte image";
    }
    // Past the partition space lie the directory, the manufacturer block and the regions a
    // build writes anew: a partition there would be overwritten in the merged image.
    uint64_t space_end = uint64_t{layout->area_base} + kPartitionSpace;
    if (start + length > space_end) {
      return which + ": its data at file offset " + Hex(start) + " with its " + length_field +
             " of " + Hex(length) +
             " bytes ends past the partition space, which ends at file offset " + Hex(space_end) +
             " where the partition directory begins";
    }
    // A large partition has one buffer: a second entry of that name would take the first one's
    // place, and the merged image would carry its data twice.
    Target target = TargetOf(entry);
    if (target != Target::kSlot) {
      int& first = first_large[static_cast<size_t>(target)];
      if (first >= 0) {
        return which + " is a second partition for the " + TargetDescription(target) +
               ", which entry " + std::to_string(first) + " fills already";
      }
      first = i;
    }
  }
  return std::nullopt;
}

}  // namespace qv
