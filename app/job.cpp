#include "app/job.h"

#include <filesystem>

#include "app/messages.h"
#include "platform/file.h"
#include "workfiles/working_files.h"

namespace qv {

Job::Job(JobOptions options) : options_(std::move(options)) {}

void Job::JobReset() {
  ClearJob();
}

void Job::ClearJob() {
  phase_ = JobPhase::kReset;
  directory_.reset();
  image_.reset();
  opened_flash_image_ = false;
  opened_path_.clear();
  merged_name_.clear();
  http_settings_ = {};
  logo_chosen_ = {};
  chosen_stills_ = {};
  default_database_ = {};
  key_ = {};
  edits_ = {};
  picked_files_.clear();
}

void Job::Reset() {
  RemoveWorkingFiles();
  JobReset();
}

void Job::Cancel() {
  directory_.reset();
}

void Job::RemoveWorkingFiles() {
  if (directory_) directory_->Empty();
}

void Job::EditSetting(SettingKind kind, std::string text) {
  edits_[static_cast<size_t>(IndexOf(kind))] = std::move(text);
}

std::string Job::ModelIdText() const {
  return image_ ? qv::ModelIdText(image_->ModelId()) : std::string();
}

std::string Job::download_name() const {
  return merged_name_.empty()
             ? std::string()
             : std::filesystem::path(merged_name_).replace_extension(".dld").string();
}

std::string Job::HttpCfgPath() const {
  return working_directory() + kHttpCfgFileName;
}

std::string Job::ConvertedPath(SourceKind kind) const {
  return working_directory() + (kind == SourceKind::kKey ? kConvertedKey : kConvertedDefault);
}

bool Job::Ask(QuestionKind kind, std::string text) const {
  return options_.answer && options_.answer(Question{kind, std::move(text)});
}

void Job::LetEventsThrough() const {
  if (options_.let_events_through) options_.let_events_through();
}

}  // namespace qv
