#include "app/job.h"

#include <filesystem>

#include "app/messages.h"
#include "platform/file.h"
#include "workfiles/working_files.h"

namespace qv {

Job::Job(JobOptions options) : options_(std::move(options)) {}

void Job::JobReset() {
  ClearJob();
  // A copy of the tool's own program beside its working files; whether it works is not
  // examined (copying onto itself fails quietly).
  if (!options_.executable_path.empty()) {
    std::error_code ignored;
    std::filesystem::copy_file(options_.executable_path,
                               options_.working_directory + text::kExecutableCopy,
                               std::filesystem::copy_options::overwrite_existing, ignored);
  }
}

void Job::ClearJob() {
  phase_ = JobPhase::kReset;
  image_.reset();
  opened_flash_image_ = false;
  http_settings_ = {};
  logo_chosen_ = {};
  default_database_ = {};
  key_ = {};
  edits_ = {};
  merged_image_path_.clear();
  picked_files_.clear();
  merged_image_written_ = false;
}

void Job::Reset() {
  RemoveWorkingFiles();
  JobReset();
}

void Job::Cancel() {
  RemoveWorkingFiles();
}

void Job::RemoveWorkingFiles() {
  const std::string& directory = options_.working_directory;
  std::vector<std::string> doomed;
  if (!opened_flash_image_ && merged_image_written_) doomed.push_back(merged_image_path_);
  for (const std::string* path : {&default_database_.converted_path, &key_.converted_path})
    doomed.push_back(*path);
  for (const char* name : kWorkingFileSet)
    doomed.push_back(directory + name);
  doomed.push_back(HttpCfgPath());
  for (const LogoNames& logo : kLogos) {
    doomed.push_back(directory + std::string(logo.picture));
    doomed.push_back(directory + std::string(logo.still));
  }

  for (const std::string& path : doomed) {
    if (!path.empty() && FileExists(path) && !Picked(path)) RemoveFile(path);
  }
}

bool Job::Picked(const std::string& path) const {
  for (const std::string& picked : picked_files_) {
    if (IsSameFile(path, picked)) return true;
  }
  return false;
}

void Job::EditSetting(SettingKind kind, std::string text) {
  edits_[static_cast<size_t>(IndexOf(kind))] = std::move(text);
}

std::string Job::ModelIdText() const {
  return image_ ? qv::ModelIdText(image_->ModelId()) : std::string();
}

std::string Job::HttpCfgPath() const {
  return options_.working_directory + kHttpCfgFileName;
}

void Job::LetEventsThrough() const {
  if (options_.let_events_through) options_.let_events_through();
}

}  // namespace qv
