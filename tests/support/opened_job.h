#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/job_state.h"
#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"

namespace qv::testing {

// A job with an image read into it the way opening one does: the image of a spec written to
// a temporary working directory, then the boot area, directory, partitions and manufacturer
// block read. The working directory is the temporary directory.
class OpenedJob {
 public:
  OpenedJob() : job_(std::make_unique<JobState>()) { job_->working_directory = dir_.path() + "/"; }

  void Open(const ImageSpec& spec);
  void Open(Variant variant, const std::vector<uint8_t>& image);

  JobState& job() { return *job_; }
  const std::vector<uint8_t>& image() const { return image_; }
  const std::string& image_path() const { return job_->working_image_path; }
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  TempDir dir_;
  std::unique_ptr<JobState> job_;
  std::vector<uint8_t> image_;
};

}  // namespace qv::testing
