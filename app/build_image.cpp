// Start: the merged image from the job, then the download file from the merged image.
#include <chrono>
#include <filesystem>

#include "app/form_main.h"
#include "app/remove_working_files.h"
#include "app/working_directory.h"
#include "download/download_file.h"
#include "download/key_block.h"
#include "image/manufacturer_block.h"
#include "image/merged_image.h"
#include "image/settings.h"
#include "image/variant.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "workfiles/converter_runner.h"
#include "workfiles/header_configs.h"
#include "workfiles/working_files.h"

namespace qv {

namespace {

// Shows the wait banner for as long as it lives, so it also goes when a run-time error ends
// the build.
class WaitBanner {
 public:
  explicit WaitBanner(Ui& ui) : ui_(ui) { ui_.ShowWaitBanner(); }
  ~WaitBanner() { Close(); }
  void Close() {
    if (shown_) ui_.CloseWaitBanner();
    shown_ = false;
  }

 private:
  Ui& ui_;
  bool shown_ = true;
};

// The merged image of a build that has not reached its end: removed when the build stops
// early (a message, or a run-time error on its way to the front end), so that nothing
// half-written is left under the name of a result.
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

// The picked file (the opened image, a chosen picture or source) that an output of the build
// would replace, if any: the outputs are written afresh, and must never destroy an input.
std::optional<std::string> InputInTheWay(const JobState& job, const std::string& download_path) {
  for (const std::string& picked : job.picked_files) {
    if (IsSameFile(picked, job.merged_image_path) || IsSameFile(picked, download_path))
      return picked;
  }
  return std::nullopt;
}

// Copies `length` bytes from the start of `source` into the merged image at `offset`. False
// when the source cannot give them all: a chosen file that went or shrank after it was chosen
// must not put a region of zero bytes into the box.
bool CopyFromSource(const std::string& source, File& merged, uint32_t offset, uint32_t length) {
  std::optional<File> file = File::TryOpen(source, File::Mode::kRead);
  std::vector<uint8_t> bytes(length, 0);
  if (!file || file->ReadAt(0, bytes) != length) return false;
  merged.WriteAt(offset, bytes);
  return true;
}

void CarryRegion(const std::string& working_image, File& merged, uint32_t offset, uint32_t length) {
  File file = File::Open(working_image, File::Mode::kRead);
  std::vector<uint8_t> bytes(length, 0);
  file.ReadAt(offset, bytes);
  merged.WriteAt(offset, bytes);
}

// The size of a file, 0 when it is gone or cannot be sized.
int32_t FileSizeOrZero(const std::string& path) {
  try {
    return FileSize(path);
  } catch (const IoError&) {
    return 0;
  }
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
bool DownloadMatches(const std::string& download_path, const std::string& merged_path,
                     Variant variant) {
  if (!FileExists(download_path)) return false;
  std::vector<uint8_t> image;
  if (!ConvertDownloadBytes(ReadWholeFile(download_path), variant, image)) return false;
  std::vector<uint8_t> merged = ReadWholeFile(merged_path);
  size_t covered = LayoutOf(variant)->file_size;
  return image.size() == covered && merged.size() >= covered &&
         std::equal(image.begin(), image.end(), merged.begin());
}

}  // namespace

void TFormMain::BuildMergedImageAndDownload() {
  WaitBanner banner(ui_);
  const std::string& directory = job_.working_directory;
  const std::string& merged_path = job_.merged_image_path;
  const Variant variant = VariantFromPartitionCount(job_.partition_count);
  const std::chrono::milliseconds limit(options_.converter_time_limit_ms);
  auto end_with = [&](MessageKind kind, const std::string& text) {
    banner.Close();
    ui_.ShowMessage(kind, text);
  };

  const std::string merged_name = std::filesystem::path(merged_path).filename().string();
  const std::string download_name =
      std::filesystem::path(merged_name).replace_extension(".dld").string();
  const std::string download_path = directory + download_name;
  if (std::optional<std::string> input = InputInTheWay(job_, download_path)) {
    return end_with(MessageKind::kError,
                    "Quorvane: Open File Error: " + *input +
                        " would be overwritten by this build's output; move it out of the "
                        "working directory!");
  }
  // The ranges that all and full images carry over are read from the opened image once more.
  const VariantLayout* carried = variant == kAppImage ? nullptr : LayoutOf(variant);
  if (carried &&
      FileSizeOrZero(job_.working_image_path) < static_cast<int64_t>(carried->file_size)) {
    return end_with(MessageKind::kError, "Quorvane: Open File Error: the opened image " +
                                             job_.working_image_path +
                                             " can no longer be read whole!");
  }

  job_.merged_image_written = true;
  if (!BuildMergedImage(job_, merged_path))
    return end_with(MessageKind::kError, "Quorvane: Open file type error!");
  UnfinishedImage unfinished(merged_path);
  const VariantLayout& layout = *LayoutOf(variant);
  {
    File merged = File::Open(merged_path, File::Mode::kReadWrite);
    if (job_.choice_flags[kDefaultChosen]) {
      if (!CopyFromSource(job_.default_source_path, merged, layout.default_region,
                          kDefaultRegionSize)) {
        return end_with(MessageKind::kError, "Quorvane: Open File Error: the default database " +
                                                 job_.default_source_path +
                                                 " can no longer be read whole!");
      }
    } else if (variant != kAppImage) {
      CarryRegion(job_.working_image_path, merged, layout.default_region, kDefaultRegionSize);
    }

    if (job_.choice_flags[kKeyChosen]) {
      std::string source = job_.key_source_path;
      if (HasKeyBlockFlag(source)) {
        if (!CompressKeyFile(source, job_.compressed_key_path)) {
          return end_with(MessageKind::kPlain, "Quorvanex: Compress key file failed...");
        }
        source = job_.compressed_key_path;
      }
      if (!CopyFromSource(source, merged, layout.key_region, kKeyRegionSize)) {
        return end_with(MessageKind::kError, "Quorvane: Open File Error: the key file " + source +
                                                 " can no longer be read whole!");
      }
    } else if (variant != kAppImage) {
      CarryRegion(job_.working_image_path, merged, layout.key_region, kKeyRegionSize);
    }
  }

  static constexpr const char* kLogoNames[] = {"boot", "menu", "radio"};
  for (int kind = 0; kind < 3; ++kind) {
    if (!job_.choice_flags[kBootChosen + kind]) continue;
    PlaceResult placed =
        ConvertAndPlace(job_, job_.logo_commands[kind], directory + kLogoStills[kind], limit);
    if (placed == PlaceResult::kPlaced) continue;
    if (placed == PlaceResult::kNoOutput) ShowError("File Error: Time out!");
    if (placed == PlaceResult::kNoRoomToAppend) ShowError("Quorvane: The file is overflow!");
    if (placed != PlaceResult::kNoOutput) ShowError("The new file is overflow!");
    end_with(MessageKind::kError,
             std::string("Quorvanex: The ") + kLogoNames[kind] + " picture is invalid !");
    RemoveWorkingFiles(job_);
    return;
  }

  std::array<EditBox*, 8> boxes = SettingBoxes();
  for (int kind = 0; kind < 8; ++kind) {
    if (!boxes[kind]->modified || StoreSetting(job_, kind, boxes[kind]->text)) continue;
    return end_with(MessageKind::kError,
                    kind == 0 ? "Quorvane: The model id does not fit its partition!"
                              : "Quorvane: httpcfg.ini has grown larger than the " +
                                    std::to_string(kSlotSize) + " bytes of its partition!");
  }
  if (RepackResult repacked = WritePartitionsAndDirectory(job_, merged_path); !repacked) {
    return end_with(MessageKind::kError,
                    "Quorvane: The partitions do not fit the image: " + repacked.problem + "!");
  }
  WriteManufacturerBlock(job_, merged_path);

  // The download file, made by the bin-to-download converter beside the merged image.
  CheckWorkingDirectory(directory);
  RemoveFile(download_path);
  std::string command = "/c bintodld.exe manufacturer.cfg " +
                        std::string(HeaderConfigFor(variant)->name) + " " + merged_name;
  std::optional<Process> converter = RunConverter(job_, command);
  if (!converter) return end_with(MessageKind::kError, "Quorvanex: Create File:_Merge.dld Faild !");
  converter->WaitFor(limit);

  bool made = FileExists(merged_path) && FileSize(merged_path) > 0 &&
              DownloadMatches(download_path, merged_path, variant);
  if (made) {
    unfinished.Finished();
  } else {
    // Never leave a download file that is not the image.
    RemoveDownloadAttempt(directory, download_name);
  }
  banner.Close();
  EnterBuiltState();
  ui_.ControlsChanged();
  if (!made) {
    ShowInformation("Quorvane: Create file failed!");
  } else if (job_.opened_image_flag == 1) {
    ShowInformation("Quorvanex: Succeed!  [ Create File: " + merged_name + ", " + download_name +
                    "]");
  } else {
    ShowInformation("Quorvanex: Succeed!  [ Create File: " + download_name + "]");
  }
  RemoveWorkingFiles(job_);
}

}  // namespace qv
