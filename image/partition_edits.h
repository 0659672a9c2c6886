#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/flash_image.h"
#include "image/partition_directory.h"

// The partitions of an opened image as a build changes them: a copy of its directory, and the
// new data of every small partition that a logo still or a setting replaced. What is not
// replaced is read from the image itself. The merged image is written from this.
namespace qv {

// The value rounded up to the next multiple of 16; a multiple of 16 stays as it is.
uint32_t RoundUp16(uint32_t value);

// The partition space (0x65E000 bytes) less every listed partition's length rounded up to 16.
int64_t FreePartitionSpace(const PartitionDirectory& directory);

enum class ReplaceResult {
  kReplaced,        // the named partition took the data
  kAppended,        // no such partition: a new one, named with the whole file name
  kDoesNotFit,      // the named partition cannot grow to the data's length
  kNoRoomToAppend,  // no such partition, and no space, slot or directory entry for a new one
};

class PartitionEdits {
 public:
  // Starts from the image's own directory and partitions; the image must outlive the edits.
  explicit PartitionEdits(const FlashImage& image);

  const FlashImage& image() const { return *image_; }
  const PartitionDirectory& directory() const { return directory_; }
  PartitionDirectory& directory() { return directory_; }

  // The data of directory entry `index` as the merged image receives it: its new data, or the
  // image's own.
  std::span<const uint8_t> Data(int index) const;

  // True when entry `index`, given `new_length`, would not fit: into the free space plus its
  // present rounded length, or into the most a small partition may hold.
  bool ReplacementOverflows(int index, uint32_t new_length) const;

  // Gives the small partition named like the file (its name without the last four characters,
  // "boot.m2v" -> "boot", or the whole file name, which an appended partition carries) the
  // file's data; appends a partition when there is none. Nothing changes unless it fits.
  ReplaceResult Replace(std::string_view file_name, std::span<const uint8_t> data);

  // The model id into every "modelid" partition: the text and a zero byte, with the text's
  // length as the partition's length. False, changing nothing, for a text too long for a
  // partition.
  bool StoreModelId(std::string_view text);

  // The whole text of httpcfg.ini as the data of every "httpcfg" partition. False, changing
  // nothing, for a text too long for a partition.
  bool StoreHttpCfg(std::span<const uint8_t> text);

 private:
  void SetData(int index, std::span<const uint8_t> data);

  const FlashImage* image_;
  PartitionDirectory directory_;
  std::array<std::optional<std::vector<uint8_t>>, kMaxEntries> replaced_;
};

}  // namespace qv
