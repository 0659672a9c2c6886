#pragma once

#include <cstdint>
#include <string>

// Writing the merged image: the flash image that Start builds from the job's buffers and the
// ranges of the working image that are carried over unchanged, with replaced partitions and
// the re-packed small partitions and directory.
namespace qv {

struct JobState;

// The value rounded up to the next multiple of 16; a multiple of 16 stays as it is.
uint32_t RoundUp16(uint32_t value);

// Creates the merged image afresh: the variant's 64 KiB blocks of 0xFF, the boot area of a
// full image, "appcode", "fw_audio" and "fw_video" from their buffers, and the ranges of the
// working image that all and full images carry over. False, creating nothing, for an
// unrecognised variant.
bool BuildMergedImage(const JobState& job, const std::string& merged_path);

// The partition space (0x65E000 bytes) less every listed partition's length rounded up to 16.
int64_t FreePartitionSpace(const JobState& job);

// True when entry `index`, given `new_length`, would not fit: into the free space plus its
// present rounded length, or into its 51,200-byte slot.
bool ReplacementOverflows(const JobState& job, int index, uint32_t new_length);

enum class ReplaceResult {
  kReplaced,        // the named partition took the file's contents
  kAppended,        // no such partition: a new one, named with the whole file name
  kDoesNotFit,      // the named partition cannot grow to the file's length
  kNoRoomToAppend,  // no such partition, and no space, slot or directory entry for a new one
};

// Gives the small partition named like the file (its name without the last four characters,
// "boot.m2v" -> "boot", or the whole file name, which an appended partition carries) the
// first `length` bytes of the file at `path`; appends a partition when there is none.
ReplaceResult ReplacePartition(JobState& job, const std::string& path, uint32_t length,
                               const std::string& file_name);

struct RepackResult {
  bool ok = false;
  std::string problem;  // why nothing was written, when !ok
  explicit operator bool() const { return ok; }
};

// Re-packs the small partitions one after another in directory order (each at the first
// multiple of 16 after the end of the entry before it; large partitions and a small partition
// at index 0 keep their offsets), writes them and the directory into the merged image. The new
// layout is checked first: a small partition that would reach into a large partition or past
// the partition space stops it, with nothing written and nothing changed.
RepackResult WritePartitionsAndDirectory(JobState& job, const std::string& merged_path);

}  // namespace qv
