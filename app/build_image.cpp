// Start: the merged image from the opened image and the user's choices, then the download file
// from the merged image, both checked as opening would check them and only then handed to the
// user in the output directory. The converters run in this process: the chosen logo pictures
// are encoded side by side, and the download file is made from the merged image in memory.
#include <filesystem>
#include <future>
#include <sstream>

#include "app/job.h"
#include "app/messages.h"
#include "app/output_check.h"
#include "bintodld/converter.h"
#include "download/key_block.h"
#include "formatswitch/converter.h"
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

// Encodes the logo picture in the working directory that the logo's converter command names,
// with the parameter file there, as the still converter run in that directory would.
std::optional<std::vector<uint8_t>> EncodeLogo(const std::string& directory,
                                               const LogoNames& logo) {
  const ConverterCommand command = ParseConverterCommand(std::string(logo.command));
  std::ostringstream reasons;  // the converter's own; Start shows its fixed texts instead
  std::optional<formatswitch::EncodedPicture> encoded =
      formatswitch::EncodePicture(command.arguments.back(), directory, reasons);
  if (!encoded) return std::nullopt;
  return std::move(encoded->still);
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
  // The chosen pictures are encoded side by side; their stills are placed, and the first
  // failure stops Start, in the order boot, menu, radio.
  using Encoding = std::future<std::optional<std::vector<uint8_t>>>;
  std::array<Encoding, kLogos.size()> encodings;
  for (size_t i = 0; i < kLogos.size(); ++i) {
    const LogoNames& logo = kLogos[i];
    if (Chosen(logo.kind) && !chosen_stills_[static_cast<size_t>(logo.kind)]) {
      encodings[i] = std::async(std::launch::async | std::launch::deferred, EncodeLogo,
                                working_directory(), std::cref(logo));
    }
  }
  for (size_t i = 0; i < kLogos.size(); ++i) {
    const LogoNames& logo = kLogos[i];
    if (!Chosen(logo.kind)) continue;
    std::optional<std::vector<uint8_t>> still = chosen_stills_[static_cast<size_t>(logo.kind)];
    if (!still) still = encodings[i].get();
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
    for (Encoding& encoding : encodings) {
      if (encoding.valid()) encoding.wait();
    }
    RemoveWorkingFiles();
    return Stopped(std::move(messages));
  }
  return std::nullopt;
}

std::optional<Outcome> Job::StoreSettings(PartitionEdits& partitions) {
  bool http_edited = false;
  for (SettingKind kind : kSettingKinds) {
    const std::optional<std::string>& edit = edits_[static_cast<size_t>(IndexOf(kind))];
    if (!edit) continue;
    if (kind == SettingKind::kModelId) {
      if (!partitions.StoreModelId(*edit))
        return Stopped(MessageKind::kError, text::kModelIdTooLong);
    } else {
      http_settings_[static_cast<size_t>(IndexOf(kind) - 1)] = *edit;
      http_edited = true;
    }
  }
  if (!http_edited) return std::nullopt;

  // The HTTP settings go into httpcfg.ini (taken from the image again when it is gone): all
  // seven keys are written into its text, which is kept in the working directory and becomes
  // the data of every "httpcfg" partition.
  const std::string path = HttpCfgPath();
  std::string ini;
  if (FileExists(path)) {
    ini = ReadProfileText(path);
  } else if (std::optional<std::span<const uint8_t>> httpcfg = HttpCfgData(partitions)) {
    ini.assign(httpcfg->begin(), httpcfg->end());
  }
  ini = WriteHttpSettings(ini, http_settings_);
  WriteProfileText(path, ini);
  if (!partitions.StoreHttpCfg({reinterpret_cast<const uint8_t*>(ini.data()), ini.size()}))
    return Stopped(MessageKind::kError, text::HttpCfgTooLarge(kSlotSize));
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

  // The download file, made by the bin-to-download converter from the merged image, with the
  // opened image's manufacturer.cfg and the variant's download header configuration.
  std::ostringstream trace;
  const std::optional<bintodld::DownloadBytes> made =
      bintodld::MakeDownload(ManufacturerCfgText(ManufacturerCfgLines(image_->manufacturer())),
                             HeaderConfigFor(image_->variant())->text, *merged, trace);
  const std::span<const uint8_t> download = made ? made->bytes() : std::span<const uint8_t>();

  // Success only for outputs the tool itself would open as sound.
  Result<void> sound = CheckOutputs(*merged, download, *image_);
  if (!sound) {
    phase_ = JobPhase::kBuilt;
    return {Status::kFailed,
            {{MessageKind::kInformation, text::CreateFileFailed(sound.error().text)}}};
  }
  return WriteOutputs(outputs, names, *merged, download, *replace);
}

}  // namespace qv
