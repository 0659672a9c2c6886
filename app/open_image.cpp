// Opening an image: the chosen flash image or download file is read once into the job's
// image, its checksums are checked, its logo stills are decoded for the previews, and the
// working files are written into the job's own directory.
#include <filesystem>

#include "app/image_file.h"
#include "app/job.h"
#include "app/messages.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "workfiles/still_decoder.h"
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
  // The name as given, made absolute: "link/.." is left for the system to resolve.
  const std::string path = std::filesystem::absolute(chosen).string();

  // End the previous job; the file just chosen is never replaced by this one's outputs.
  Reset();
  picked_files_.push_back(path);
  opened_path_ = path;
  merged_name_ = BaseNameOf(std::filesystem::path(path).filename().string()) + "_Merge.bin";
  try {
    directory_ = JobDirectory::Make(options_.job_directory_parent);
    Outcome outcome = OpenPicked(path);
    if (!outcome.done()) ClearJob();
    picked_files_.push_back(path);
    return outcome;
  } catch (const IoError& error) {
    ClearJob();
    picked_files_.push_back(path);
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
    return {Status::kRefused, {{MessageKind::kError, text::OpenFileError(image.error().text)}}};
  }
  std::vector<std::string> damage =
      DescribeDamage(image->bytes(), image->layout(), image->manufacturer());
  return OpenParsed(std::move(*image), flash_image, damage);
}

Outcome Job::Open(ImageInMemory opened) {
  Reset();
  // The outputs are named by whoever opened it; the converter's files in the job's directory
  // take a name of the job's own.
  merged_name_ = "image_Merge.bin";
  try {
    Result<FlashImage> image = FlashImage::Parse(std::move(opened.flash_bytes), opened.variant);
    if (!image) {
      return {Status::kRefused, {{MessageKind::kError, text::OpenFileError(image.error().text)}}};
    }
    directory_ = JobDirectory::Make(options_.job_directory_parent);
    Outcome outcome =
        OpenParsed(std::move(*image), opened.kind == ImageFileKind::kFlashImage, opened.damage);
    if (!outcome.done()) ClearJob();
    return outcome;
  } catch (const IoError& error) {
    ClearJob();
    return RunTimeError(error);
  }
}

Outcome Job::OpenParsed(FlashImage image, bool flash_image,
                        const std::vector<std::string>& damage) {
  // An image whose checksums do not match its bytes is damaged or was edited by hand; Start
  // would seal the damage with new checksums, so the user decides first.
  if (!damage.empty() && !Ask(QuestionKind::kOpenDamagedImage, text::DamagedImage(damage)))
    return {Status::kRefused, {}};
  image_ = std::move(image);
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
  if (!WriteWorkingFiles(working_directory(), ManufacturerCfgLines(image_->manufacturer())))
    outcome.Show(MessageKind::kInformation, text::kCreateTempFile);
  std::string ini;
  if (std::optional<std::span<const uint8_t>> httpcfg = image_->HttpCfg()) {
    WriteWholeFile(HttpCfgPath(), *httpcfg);
    ini.assign(httpcfg->begin(), httpcfg->end());
  }
  http_settings_ = ReadHttpSettings(ini);
}

std::optional<Bitmap> Job::ImageLogo(LogoKind kind) const {
  if (!image_) return std::nullopt;
  const PartitionDirectory& directory = image_->directory();
  const std::string_view partition = NamesOf(kind).partition;
  for (int i = 0; i < directory.UsableCount(); ++i) {
    if (!directory.entries[i].NameIs(partition)) continue;
    Result<Bitmap> still = DecodeStill(image_->Partition(i));
    if (!still) return std::nullopt;
    return std::move(*still);
  }
  return std::nullopt;
}

}  // namespace qv
