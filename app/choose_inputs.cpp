// Choosing what Start puts into the merged image: the three logos, the default database and
// the key block. Choosing only checks and records; nothing is written into an image here.
#include <filesystem>

#include "app/image_file.h"
#include "app/job.h"
#include "app/messages.h"
#include "download/download_file.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/pending_file.h"
#include "workfiles/logo_picture.h"
#include "workfiles/still_decoder.h"

namespace qv {

namespace {

// What a chosen source must be: a file of its region's size, or a download file of that many
// sectors.
struct SourceFormat {
  const char* what;
  Variant download_variant;
  uint8_t sector_count;
  int32_t size;
};

constexpr SourceFormat FormatOf(SourceKind kind) {
  return kind == SourceKind::kKey ? SourceFormat{.what = "key block",
                                                 .download_variant = kKeyDownload,
                                                 .sector_count = 1,
                                                 .size = 0x10000}
                                  : SourceFormat{.what = "default database",
                                                 .download_variant = kDefaultDownload,
                                                 .sector_count = 4,
                                                 .size = 0x40000};
}

// The name as given, made absolute: "link/.." is left for the system to resolve.
std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).string();
}

// A refused choice: nothing is recorded; a message says why, unless no image is open to choose
// for (the window's buttons are off then).
ChoiceOutcome Refused(ChoiceOutcome outcome) {
  outcome.status = Status::kRefused;
  return outcome;
}
ChoiceOutcome Refused(ChoiceOutcome outcome, MessageKind kind, std::string text) {
  outcome.Show(kind, std::move(text));
  return Refused(std::move(outcome));
}

// The messages a prepared logo picture brings, in the order they are shown.
void ShowPictureMessages(const LogoPictureResult& result, ChoiceOutcome& outcome) {
  if (result.resized_from && result.fitted) {
    outcome.Show(MessageKind::kInformation,
                 text::PictureFitted(result.resized_from->width, result.resized_from->height,
                                     result.fitted_to.width, result.fitted_to.height));
  } else if (result.resized_from) {
    outcome.Show(MessageKind::kInformation,
                 text::PictureSize(result.resized_from->width, result.resized_from->height));
  }
  if (result.refusal == PictureRefusal::kPixelDepth)
    outcome.Show(MessageKind::kError, text::kPixelDepth);
  if (result.refusal == PictureRefusal::kNotJpegOrBmp)
    outcome.Show(MessageKind::kError, text::kPictureType);
  if (result.refusal == PictureRefusal::kTooLarge)
    outcome.Show(MessageKind::kError, text::PictureTooLarge(result.too_large));
  if (result.refusal == PictureRefusal::kUnreadable)
    outcome.Show(MessageKind::kError, text::PictureUnreadable(result.unreadable));
}

// Converts a chosen download file of a source into `converted_path`, beside the image of an
// earlier accepted choice, which it replaces only when the conversion succeeds: a rejected
// download must not leave erased bytes where that choice's key or database was.
ChoiceOutcome ConvertSourceDownload(const std::string& path, const SourceFormat& format,
                                    const std::string& converted_path, ChoiceOutcome outcome) {
  std::vector<uint8_t> download = ReadFilePrefix(path, DownloadInputBound(format.download_variant));
  if (PartitionCountByte(download) != format.sector_count) {
    outcome.path_shown = "";
    return Refused(std::move(outcome), MessageKind::kError, text::kPartitionNumberWrong);
  }
  std::vector<uint8_t> image;
  Result<void> converted = ConvertDownloadBytes(download, format.download_variant, image);
  const std::string candidate = converted_path + ".new";
  if (converted) {
    try {
      WriteFileAtomically(candidate, image);
    } catch (const IoError& error) {
      converted =
          Fail("file", -1, "the converted image cannot be written: " + std::string(error.what()));
    }
  }
  if (!converted) {
    return Refused(std::move(outcome), MessageKind::kError,
                   text::DldToBinWrong(converted.error().text));
  }
  ReplaceFile(candidate, converted_path);
  return outcome;
}

}  // namespace

ChoiceOutcome Job::ChooseLogo(LogoKind kind, const std::string& chosen) {
  ChoiceOutcome outcome;
  if (phase_ != JobPhase::kOpened) return Refused(std::move(outcome));
  const std::string path = Absolute(chosen);
  // The logo picture is written over the kind's working file; a picture chosen from that very
  // file would be overwritten by its own converted form.
  if (IsSameFile(path, working_directory() + std::string(NamesOf(kind).picture)))
    return Refused(std::move(outcome), MessageKind::kError, text::PictureIsWorkingFile(kind));
  picked_files_.push_back(path);
  try {
    std::optional<FitStandard> fit;
    if (options_.fit_pictures) fit = options_.fit_standard;
    LogoPictureResult result = PrepareLogoPicture(path, kind, working_directory(), fit);
    outcome.preview_loaded = result.preview.Loaded();
    ShowPictureMessages(result, outcome);
    if (!result.accepted()) return Refused(std::move(outcome));
  } catch (const IoError& error) {
    return Refused(std::move(outcome), MessageKind::kRunTimeError, error.what());
  }
  logo_chosen_[static_cast<size_t>(kind)] = true;
  chosen_stills_[static_cast<size_t>(kind)].reset();
  outcome.path_shown = path;
  return outcome;
}

ChoiceOutcome Job::ChooseStill(LogoKind kind, std::vector<uint8_t> still) {
  ChoiceOutcome outcome;
  if (phase_ != JobPhase::kOpened) return Refused(std::move(outcome));
  // The box shows what it decodes: a still the tool cannot decode is no logo.
  if (Result<Bitmap> decoded = DecodeStill(still); !decoded)
    return Refused(std::move(outcome), MessageKind::kError,
                   text::StillRefused(kind, decoded.error().text));
  logo_chosen_[static_cast<size_t>(kind)] = true;
  chosen_stills_[static_cast<size_t>(kind)] = std::move(still);
  return outcome;
}

void Job::ReplaceHttpCfg(std::span<const uint8_t> text) {
  if (phase_ != JobPhase::kOpened) return;
  WriteWholeFile(HttpCfgPath(), text);
  http_settings_ = ReadHttpSettings(std::string(text.begin(), text.end()));
  for (const HttpSettingKey& key : kHttpSettingKeys)
    edits_[static_cast<size_t>(IndexOf(key.kind))] = http_settings_[IndexOf(key.kind) - 1];
}

ChoiceOutcome Job::ChooseSource(SourceKind kind, const std::string& chosen) {
  ChoiceOutcome outcome;
  if (phase_ != JobPhase::kOpened) return Refused(std::move(outcome));
  const std::string path = Absolute(chosen);
  const SourceFormat format = FormatOf(kind);
  Source& source = SourceOf(kind);
  outcome.path_shown = path;
  picked_files_.push_back(path);
  // An app image's download file ends before the key and database regions: the choice reaches
  // the merged image only, which a job opened from a download file does not keep.
  if (image_->variant() == kAppImage && !opened_flash_image_)
    return Refused(std::move(outcome), MessageKind::kError, text::RegionWouldBeLost(format.what));
  std::string read_from = path;
  try {
    if (IsDownloadFileName(path)) {
      outcome = ConvertSourceDownload(path, format, ConvertedPath(kind), std::move(outcome));
      if (!outcome.done()) return outcome;
      read_from = ConvertedPath(kind);
    } else if (FileSize(path) != format.size) {
      return Refused(std::move(outcome), MessageKind::kError, text::kFileOvertop);
    }
  } catch (const IoError& error) {
    return Refused(std::move(outcome), MessageKind::kRunTimeError, error.what());
  }
  if (image_->variant() == kAppImage)
    outcome.Show(MessageKind::kInformation,
                 text::RegionOnlyInMergedImage(format.what, merged_name_));
  source.chosen = true;
  source.path = read_from;
  return outcome;
}

}  // namespace qv
