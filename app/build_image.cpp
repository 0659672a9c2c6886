// Start: the merged image from the opened image and the user's choices, then the download file
// from the merged image, both checked as opening would check them and only then handed to the
// user in the output directory.
#include <filesystem>

#include "app/job.h"
#include "app/messages.h"
#include "app/output_check.h"
#include "download/key_block.h"
#include "image/merged_image.h"
#include "platform/file.h"
#include "platform/ini_profile.h"
#include "platform/io_error.h"
#include "platform/output_files.h"
#include "workfiles/converter_runner.h"
#include "workfiles/header_configs.h"
#include "workfiles/header_identity.h"
#include "workfiles/working_files.h"

namespace qv {

namespace {

Outcome Stopped(std::vector<Message> messages) {
  return {Status::kRefused, std::move(messages)};
}
Outcome Stopped(MessageKind kind, std::string text) {
  return Stopped({{kind, std::move(text)}});
}

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

}  // namespace

std::optional<PendingFile::Replace> Job::OutputMode(const std::string& output_directory,
                                                    const OutputNames& names) const {
  std::vector<std::string> taken;
  for (const std::string& name : {names.merged_image, names.download_file}) {
    if (!name.empty() && NameIsTaken(output_directory + name)) taken.push_back(name);
  }
  if (taken.empty()) return PendingFile::Replace::kNever;
  if (Ask(QuestionKind::kReplaceOutputs, text::OutputsExist(taken, output_directory)))
    return PendingFile::Replace::kExisting;
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
  const std::string directory = working_directory();
  for (const LogoNames& logo : kLogos) {
    if (!Chosen(logo.kind)) continue;
    // A still larger than a partition may hold cannot fit anywhere: reading one byte more than
    // that is enough to know.
    std::optional<std::vector<uint8_t>> still = chosen_stills_[static_cast<size_t>(logo.kind)];
    if (!still) {
      still =
          ConvertAndRead(directory, std::string(logo.command), directory + std::string(logo.still),
                         options_.converter_time_limit, kSlotSize + 1);
    }
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

Outcome Job::WriteOutputs(const std::string& output_directory, const OutputNames& names,
                          std::span<const uint8_t> merged, std::span<const uint8_t> download,
                          PendingFile::Replace replace) {
  std::vector<OutputFile> files;
  if (!names.merged_image.empty()) files.push_back({names.merged_image, merged});
  if (!names.download_file.empty()) files.push_back({names.download_file, download});
  Result<void> written = WriteOutputFiles(output_directory, files, replace);
  if (!written) return Stopped(MessageKind::kError, text::OutputNotWritten(written.error().text));
  phase_ = JobPhase::kBuilt;
  Outcome outcome;
  outcome.Show(MessageKind::kInformation, files.size() == 2
                                              ? text::Succeeded(files[0].name, files[1].name)
                                              : text::Succeeded(files[0].name));
  return outcome;
}

Outcome Job::Build(const std::string& output_directory) {
  // A job opened from a download file keeps no merged image.
  return Build(output_directory, {.merged_image = opened_flash_image_ ? merged_name_ : "",
                                  .download_file = download_name()});
}

Outcome Job::Build(const std::string& output_directory, const OutputNames& names) {
  if (phase_ != JobPhase::kOpened || !image_) return {Status::kRefused, {}};
  if (names.merged_image.empty() && names.download_file.empty()) return {Status::kRefused, {}};
  try {
    Outcome outcome = BuildOpened(output_directory, names);
    // A build that ran to its end ends the job: its directory goes, the outputs stay.
    if (phase_ == JobPhase::kBuilt) {
      logo_chosen_ = {};
      chosen_stills_ = {};
      default_database_.chosen = key_.chosen = false;
      edits_ = {};
      directory_.reset();
    }
    return outcome;
  } catch (const IoError& error) {
    return RunTimeError(error);
  }
}

Outcome Job::BuildOpened(const std::string& output_directory, const OutputNames& names) {
  std::string outputs = std::filesystem::absolute(output_directory).string();
  if (outputs.empty() || outputs.back() != '/') outputs += '/';
  for (const std::string& picked : picked_files_) {
    for (const std::string& name : {names.merged_image, names.download_file}) {
      if (!name.empty() && IsSameFile(picked, outputs + name))
        return Stopped(MessageKind::kError, text::InputInTheWay(picked));
    }
  }
  // The box's identity goes into the download header through manufacturer.cfg: a field that
  // cannot pass it whole would give a download that does not match its image.
  if (std::optional<std::string> field = FieldTheHeaderCannotCarry(image_->manufacturer()))
    return Stopped(MessageKind::kError, text::IdentityNotCarried(*field));
  const std::optional<PendingFile::Replace> replace = OutputMode(outputs, names);
  if (!replace) return Stopped({});

  Replacements replacements(*image_);
  if (std::optional<Outcome> stop = PlaceRegions(replacements)) return *stop;
  if (std::optional<Outcome> stop = PlaceLogos(replacements.partitions)) return *stop;
  if (std::optional<Outcome> stop = StoreSettings(replacements.partitions)) return *stop;
  Result<std::vector<uint8_t>> merged = BuildMergedImage(*image_, replacements);
  if (!merged) return Stopped(MessageKind::kError, text::PartitionsDoNotFit(merged.error().text));

  // The download file, made by the bin-to-download converter beside the merged image, in the
  // job's directory.
  const std::string directory = working_directory();
  WriteWholeFile(directory + merged_name_, *merged);
  const std::string command = "/c bintodld.exe manufacturer.cfg " +
                              std::string(HeaderConfigFor(image_->variant())->name) + " " +
                              merged_name_;
  std::optional<Process> converter = RunConverter(directory, command);
  if (!converter) return Stopped(MessageKind::kError, text::kCreateDownloadFailed);
  converter->WaitFor(options_.converter_time_limit);

  // Success only for outputs the tool itself would open as sound.
  const std::string download_path = directory + download_name();
  std::vector<uint8_t> download;
  if (FileExists(download_path)) download = ReadWholeFile(download_path);
  Result<void> sound = CheckOutputs(*merged, download, *image_);
  if (!sound) {
    phase_ = JobPhase::kBuilt;
    return {Status::kFailed,
            {{MessageKind::kInformation, text::CreateFileFailed(sound.error().text)}}};
  }
  return WriteOutputs(outputs, names, *merged, download, *replace);
}

}  // namespace qv
