#include "app/output_check.h"

#include <algorithm>

#include "download/download_file.h"
#include "image/manufacturer_block.h"
#include "platform/hex.h"
#include "platform/little_endian.h"
#include "workfiles/header_identity.h"

namespace qv {

namespace {

Result<void> CheckMergedImage(std::span<const uint8_t> merged, const VariantLayout& layout) {
  if (merged.size() < layout.file_size)
    return Fail("file size", -1, "the merged image is shorter than its variant");
  const PartitionDirectory directory = DecodeDirectoryAt(merged, layout);
  if (std::optional<Error> problem =
          FindDirectoryProblem(directory, layout, static_cast<int64_t>(merged.size()))) {
    return Fail(problem->field, problem->offset, "the merged image's " + problem->text);
  }
  const std::vector<std::string> damage =
      DescribeDamage(merged, layout, DecodeManufacturerBlockAt(merged, layout));
  if (!damage.empty())
    return Fail("CRC", -1, "the merged image's checksums do not match it: " + damage.front());
  return {};
}

Result<void> CheckDownloadHeader(std::span<const uint8_t> download, const VariantLayout& layout,
                                 const ManufacturerBlock& block) {
  if (download.size() < kHeaderRecordSize) {
    return Fail("file size", -1,
                "the download file has " + std::to_string(download.size()) +
                    " bytes, fewer than its header");
  }
  if (download[kPartitionCountOffset] != layout.partition_count) {
    return Fail("PARTITION_COUNT", kPartitionCountOffset,
                "the download file's partition count is " +
                    std::to_string(download[kPartitionCountOffset]) + ", not " +
                    std::to_string(layout.partition_count));
  }
  const std::array<uint8_t, 56> identity = HeaderIdentity(block);
  if (!std::equal(identity.begin(), identity.end(), download.begin() + 3)) {
    return Fail("identity", 3, "the download file's header does not hold the image's identity");
  }
  const uint32_t total = ReadLe24(&download[kTotalSizeOffset]);
  if (total != download.size()) {
    return Fail("TRANS_TOTAL_SIZE", kTotalSizeOffset,
                "the download file's header gives its size as " + Hex(total) + ", not " +
                    Hex(download.size()));
  }
  return {};
}

}  // namespace

Result<void> CheckOutputs(std::span<const uint8_t> merged, std::span<const uint8_t> download,
                          const FlashImage& image) {
  const VariantLayout& layout = image.layout();
  if (Result<void> sound = CheckMergedImage(merged, layout); !sound) return sound;
  if (download.empty()) return Fail("file", -1, "no download file was made");
  if (Result<void> sound = CheckDownloadHeader(download, layout, image.manufacturer()); !sound)
    return sound;
  // A merged image may run on past its variant's size (the regions of an app image taken from
  // a flash image): the download carries the variant's size of it.
  const Result<bool> holds =
      DownloadHoldsImage(download, layout.variant, merged.first(layout.file_size));
  if (!holds)
    return Fail(holds.error().field, holds.error().offset,
                "the download file: " + holds.error().text);
  if (!*holds) return Fail("image", -1, "the download file's image is not the merged image");
  return {};
}

}  // namespace qv
