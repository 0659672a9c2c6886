// Start: the merged image from the opened image and the user's choices, then the download file
// from the merged image.
#include <filesystem>

#include "app/job.h"
#include "app/messages.h"
#include "app/working_directory.h"
#include "download/download_file.h"
#include "download/key_block.h"
#include "image/merged_image.h"
#include "platform/file.h"
#include "platform/ini_profile.h"
#include "platform/io_error.h"
#include "workfiles/converter_runner.h"
#include "workfiles/header_configs.h"
#include "workfiles/working_files.h"

namespace qv {

namespace {

Outcome Stopped(std::vector<Message> messages) {
  return {Status::kRefused, std::move(messages)};
}
Outcome Stopped(MessageKind kind, std::string text) {
  return Stopped({{kind, std::move(text)}});
}

// The merged image of a build that has not reached its end: removed when the build stops
// early, so that nothing half-made is left under the name of a result.
class UnfinishedImage {
 public:
  explicit UnfinishedImage(const std::string& path) : path_(path) {}
  ~UnfinishedImage() {
    if (!finished_) RemoveFile(path_);
  }
  void Finished() { finished_ = true; }

 private:
  const std::string& path_;
  bool finished_ = false;
};

// The first `length` bytes of a chosen source; nothing when it can no longer give them all: a
// chosen file that went or shrank after it was chosen must not put a region of zero bytes
// into the box.
std::optional<std::vector<uint8_t>> ReadSource(const std::string& path, size_t length) {
  std::optional<File> file = File::TryOpen(path, File::Mode::kRead);
  if (!file) return std::nullopt;
  std::vector<uint8_t> bytes(length);
  if (file->ReadAt(0, bytes) != length) return std::nullopt;
  return bytes;
}

// The data of the last "httpcfg" partition as the build holds it; nothing without one.
std::optional<std::span<const uint8_t>> HttpCfgData(const PartitionEdits& partitions) {
  std::optional<std::span<const uint8_t>> found;
  const PartitionDirectory& directory = partitions.directory();
  for (int i = 0; i < directory.UsableCount(); ++i) {
    if (directory.entries[i].NameIs("httpcfg")) found = partitions.Data(i);
  }
  return found;
}

// Removes the download file of a failed build, and what a converter that was ended part-way
// left of it under its temporary name ("<name>.part...").
void RemoveDownloadAttempt(const std::string& directory, const std::string& download_name) {
  RemoveFile(directory + download_name);
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    if (entry.path().filename().string().starts_with(download_name + ".part"))
      RemoveFile(entry.path().string());
  }
}

// The download file is a result only when it converts back into the merged image.
bool DownloadMatches(const std::string& download_path, std::span<const uint8_t> merged,
                     Variant variant) {
  if (!FileExists(download_path)) return false;
  std::vector<uint8_t> image;
  if (!ConvertDownloadBytes(ReadWholeFile(download_path), variant, image)) return false;
  const size_t covered = LayoutOf(variant)->file_size;
  return image.size() == covered && merged.size() >= covered &&
         std::equal(image.begin(), image.end(), merged.begin());
}

}  // namespace

std::optional<std::string> Job::InputInTheWay(const std::string& download_path) const {
  for (const std::string& picked : picked_files_) {
    if (IsSameFile(picked, merged_image_path_) || IsSameFile(picked, download_path)) return picked;
  }
  return std::nullopt;
}

std::optional<Outcome> Job::PlaceRegions(Replacements& replacements) const {
  if (default_database_.chosen) {
    replacements.default_database = ReadSource(default_database_.path, kDefaultRegionSize);
    if (!replacements.default_database) {
      return Stopped(MessageKind::kError,
                     text::SourceUnreadable("default database", default_database_.path));
    }
  }
  if (key_.chosen) {
    // A key file flagged as a compressed key block is compressed afresh from its key data; any
    // other key file goes into the key region as it is. Either way it must still be whole.
    std::optional<std::vector<uint8_t>> key = ReadSource(key_.path, kKeyBlockSize);
    if (!key) return Stopped(MessageKind::kError, text::SourceUnreadable("key file", key_.path));
    if (HasKeyBlockFlag(*key)) {
      Result<std::vector<uint8_t>> block = CompressKeyBlock(*key);
      if (!block) return Stopped(MessageKind::kPlain, text::kCompressKeyFailed);
      key = std::move(*block);
    }
    replacements.key_block = std::move(key);
  }
  return std::nullopt;
}

std::optional<Outcome> Job::PlaceLogos(PartitionEdits& partitions) {
  const std::string& directory = options_.working_directory;
  for (const LogoNames& logo : kLogos) {
    if (!Chosen(logo.kind)) continue;
    // A still larger than a partition may hold cannot fit anywhere: reading one byte more than
    // that is enough to know.
    std::optional<std::vector<uint8_t>> still =
        ConvertAndRead(directory, std::string(logo.command), directory + std::string(logo.still),
                       options_.converter_time_limit, kSlotSize + 1);
    std::vector<Message> messages;
    if (!still) {
      messages.push_back({MessageKind::kError, text::kTimeOut});
    } else {
      ReplaceResult placed = partitions.Replace(logo.still, *still);
      if (placed == ReplaceResult::kReplaced || placed == ReplaceResult::kAppended) continue;
      if (placed == ReplaceResult::kNoRoomToAppend)
        messages.push_back({MessageKind::kError, text::kNoRoomForNewPartition});
      messages.push_back({MessageKind::kError, text::kNewFileOverflow});
    }
    messages.push_back({MessageKind::kError, text::PictureInvalid(logo.kind)});
    RemoveWorkingFiles();
    return Stopped(std::move(messages));
  }
  return std::nullopt;
}

std::optional<Outcome> Job::StoreSettings(PartitionEdits& partitions) {
  for (SettingKind kind : kSettingKinds) {
    const std::optional<std::string>& edit = edits_[static_cast<size_t>(IndexOf(kind))];
    if (!edit) continue;
    if (kind == SettingKind::kModelId) {
      if (!partitions.StoreModelId(*edit))
        return Stopped(MessageKind::kError, text::kModelIdTooLong);
      continue;
    }
    // The HTTP settings go through httpcfg.ini (extracted again when it is gone), whose whole
    // text, as it then stands on disk, becomes the data of every "httpcfg" partition.
    http_settings_[static_cast<size_t>(IndexOf(kind) - 1)] = *edit;
    const std::string path = HttpCfgPath();
    if (!FileExists(path)) {
      if (std::optional<std::span<const uint8_t>> httpcfg = HttpCfgData(partitions))
        WriteWholeFile(path, *httpcfg);
    }
    WriteProfileText(path, WriteHttpSettings(ReadProfileText(path), http_settings_));
    if (!partitions.StoreHttpCfg(ReadWholeFile(path)))
      return Stopped(MessageKind::kError, text::HttpCfgTooLarge(kSlotSize));
  }
  return std::nullopt;
}

Outcome Job::Build() {
  if (phase_ != JobPhase::kOpened || !image_) return {Status::kRefused, {}};
  try {
    return BuildOpened();
  } catch (const IoError& error) {
    return RunTimeError(error);
  }
}

Outcome Job::BuildOpened() {
  const std::string& directory = options_.working_directory;
  const Variant variant = image_->variant();
  const std::string merged_name = std::filesystem::path(merged_image_path_).filename().string();
  const std::string download_name =
      std::filesystem::path(merged_name).replace_extension(".dld").string();
  const std::string download_path = directory + download_name;
  if (std::optional<std::string> input = InputInTheWay(download_path))
    return Stopped(MessageKind::kError, text::InputInTheWay(*input));

  Replacements replacements(*image_);
  if (std::optional<Outcome> stop = PlaceRegions(replacements)) return *stop;
  if (std::optional<Outcome> stop = PlaceLogos(replacements.partitions)) return *stop;
  if (std::optional<Outcome> stop = StoreSettings(replacements.partitions)) return *stop;
  Result<std::vector<uint8_t>> merged = BuildMergedImage(*image_, replacements);
  if (!merged) return Stopped(MessageKind::kError, text::PartitionsDoNotFit(merged.error().text));

  merged_image_written_ = true;
  UnfinishedImage unfinished(merged_image_path_);
  WriteWholeFile(merged_image_path_, *merged);

  // The download file, made by the bin-to-download converter beside the merged image.
  CheckWorkingDirectory(directory);
  RemoveFile(download_path);
  const std::string command = "/c bintodld.exe manufacturer.cfg " +
                              std::string(HeaderConfigFor(variant)->name) + " " + merged_name;
  std::optional<Process> converter = RunConverter(directory, command);
  if (!converter) return Stopped(MessageKind::kError, text::kCreateDownloadFailed);
  converter->WaitFor(options_.converter_time_limit);

  const bool made = FileExists(merged_image_path_) && FileSize(merged_image_path_) > 0 &&
                    DownloadMatches(download_path, *merged, variant);
  if (made) {
    unfinished.Finished();
  } else {
    // Never leave a download file that is not the image.
    RemoveDownloadAttempt(directory, download_name);
  }
  phase_ = JobPhase::kBuilt;
  logo_chosen_ = {};
  default_database_.chosen = key_.chosen = false;
  edits_ = {};

  Outcome outcome;
  if (!made) {
    outcome = {Status::kFailed, {{MessageKind::kInformation, text::kCreateFileFailed}}};
  } else if (opened_flash_image_) {
    outcome.Show(MessageKind::kInformation, text::Succeeded(merged_name, download_name));
  } else {
    outcome.Show(MessageKind::kInformation, text::Succeeded(download_name));
  }
  RemoveWorkingFiles();
  return outcome;
}

}  // namespace qv
