#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Reading the boot area, the partition directory and the partitions of a working image into
// the job state. Each operation derives the variant from the job's partition count.
namespace qv {

struct JobState;
struct DirectoryEntry;

// Full images: fills the boot area buffer with 0xFF, then reads the file's first 0x50000 bytes
// into it. Other variants: nothing.
void ReadBootArea(JobState& job, const std::string& path);

// Fills the in-memory directory with zero bytes, then reads the 60 entries and the entry count
// from the image (variants 5, 6 and 7).
void ReadPartitionDirectory(JobState& job, const std::string& path);

// Reads every listed partition: "appcode", "fw_audio" and "fw_video" (names in any letter
// case, tested in that order) into their buffers, every other entry i into slot i. A read
// never goes past its buffer, its slot or the end of the file; bytes it does not reach keep
// what they held.
void ReadPartitions(JobState& job, const std::string& path);

// "appcode", "fw_audio" or "fw_video", in any letter case: partitions with buffers of their
// own, which keep their offsets when the small partitions are re-packed.
bool IsLargePartition(const DirectoryEntry& entry);

// The buffer or slot that directory entry `index` is read into and written from.
std::span<uint8_t> PartitionBuffer(JobState& job, int index);
std::span<const uint8_t> PartitionBuffer(const JobState& job, int index);

// Looks for what would make the job's directory unsafe to work with: an entry count above 60,
// a partition longer than its buffer or slot, or a partition that ends past the end of an
// image of `image_size` bytes. Returns a sentence naming the entry, the field and the offset,
// or nothing when the directory is sound.
std::optional<std::string> FindDirectoryProblem(const JobState& job, int64_t image_size);

}  // namespace qv
