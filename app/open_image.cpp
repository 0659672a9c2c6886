// Opening an image: the chosen flash image or download file is read once into the job's
// image, and the working files are written.
#include <filesystem>

#include "app/image_file.h"
#include "app/job.h"
#include "app/messages.h"
#include "app/working_directory.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "workfiles/working_files.h"

namespace qv {

namespace {

// The name without its directory, and without its extension (the last full stop and what
// follows it); empty when the name has no extension.
std::string BaseNameOf(const std::string& file_name) {
  const std::string extension = ExtensionOf(file_name);
  return extension.empty() ? std::string()
                           : file_name.substr(0, file_name.size() - extension.size());
}

}  // namespace

Outcome Job::Open(const std::string& chosen) {
  const std::string path = std::filesystem::absolute(chosen).lexically_normal().string();

  // End the previous job; the file just chosen is never removed with it.
  picked_files_.push_back(path);
  RemoveWorkingFiles();
  Reset();
  picked_files_.push_back(path);

  const std::string& directory = options_.working_directory;
  const std::string file_name = std::filesystem::path(path).filename().string();
  merged_image_path_ = directory + BaseNameOf(file_name) + "_Merge.bin";
  default_database_.converted_path = directory + kConvertedDefault;
  key_.converted_path = directory + kConvertedKey;
  try {
    return OpenPicked(path);
  } catch (const IoError& error) {
    return RunTimeError(error);
  }
}

Outcome Job::OpenPicked(const std::string& path) {
  Result<ImageFile> file = ReadImageFile(path);
  if (!file) return {Status::kRefused, {{MessageKind::kError, text::kOpenTypeError}}};
  const Variant variant = file->variant;
  const bool flash_image = file->kind == ImageFileKind::kFlashImage;
  Result<std::vector<uint8_t>> bytes = FlashBytesOf(std::move(*file));
  if (!bytes) {
    return {Status::kRefused, {{MessageKind::kError, text::DldToBinWrong(bytes.error().text)}}};
  }
  Result<FlashImage> image = FlashImage::Parse(std::move(*bytes), variant);
  if (!image) {
    // The refused job ends here, its paths with it; the picked file stays protected.
    ClearJob();
    picked_files_.push_back(path);
    return {Status::kRefused, {{MessageKind::kError, text::OpenFileError(image.error().text)}}};
  }
  image_ = std::move(*image);
  opened_flash_image_ = flash_image;
  LetEventsThrough();

  Outcome outcome;
  WriteOpenedWorkingFiles(outcome);
  phase_ = JobPhase::kOpened;
  return outcome;
}

// The working-file set, and httpcfg.ini from the "httpcfg" partition, whose settings the job
// takes as the image's.
void Job::WriteOpenedWorkingFiles(Outcome& outcome) {
  const std::string& directory = options_.working_directory;
  CheckWorkingDirectory(directory);
  if (!WriteWorkingFiles(directory, ManufacturerCfgLines(image_->manufacturer())))
    outcome.Show(MessageKind::kInformation, text::kCreateTempFile);
  std::string ini;
  if (std::optional<std::span<const uint8_t>> httpcfg = image_->HttpCfg()) {
    WriteWholeFile(HttpCfgPath(), *httpcfg);
    ini.assign(httpcfg->begin(), httpcfg->end());
  }
  http_settings_ = ReadHttpSettings(ini);
}

}  // namespace qv
