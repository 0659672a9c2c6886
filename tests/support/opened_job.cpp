#include "tests/support/opened_job.h"

#include "image/manufacturer_block.h"
#include "image/partitions.h"
#include "platform/file.h"

namespace qv::testing {

void OpenedJob::Open(const ImageSpec& spec) {
  Open(spec.variant, BuildFlashImage(spec));
}

void OpenedJob::Open(Variant variant, const std::vector<uint8_t>& image) {
  image_ = image;
  JobState& job = *job_;
  ResetJobData(job);
  job.working_image_path = dir_.File("image.bin");
  job.merged_image_path = dir_.File("image_Merge.bin");
  WriteWholeFile(job.working_image_path, image_);
  job.partition_count = PartitionCountOfVariant(variant);
  job.opened_image_flag = 1;
  ReadBootArea(job, job.working_image_path);
  ReadPartitionDirectory(job, job.working_image_path);
  ReadPartitions(job, job.working_image_path);
  ReadManufacturerBlock(job, job.working_image_path);
  BuildManufacturerCfgLines(job);
}

}  // namespace qv::testing
