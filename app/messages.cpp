#include "app/messages.h"

#include "app/outcome.h"

namespace qv::text {

std::string OpenFileError(std::string_view problem) {
  return "Quorvane: Open File Error: " + std::string(problem) + ".";
}

std::string DldToBinWrong(std::string_view problem) {
  return std::string(kDldToBinWrong) + "\r\r" + std::string(problem) + ".";
}

std::string PictureSize(int32_t width, int32_t height) {
  return "Quorvane: The size of the picture: " + std::to_string(width) + "*" +
         std::to_string(height) +
         "...\r\rStandard picture size: [24 Bit], [720*576] or [720*480].\r\r"
         "Will from top left corner intercept 720*576 sizes.";
}

std::string PictureIsWorkingFile(LogoKind kind) {
  return "Quorvane: Open File Error: " + std::string(NamesOf(kind).picture) +
         " is the tool's own working file; choose a picture from another directory!";
}

std::string PictureInvalid(LogoKind kind) {
  return "Quorvanex: The " + std::string(NamesOf(kind).partition) + " picture is invalid !";
}

std::string StillRefused(LogoKind kind, std::string_view reason) {
  return "Quorvane: the " + std::string(NamesOf(kind).partition) +
         " still is no MPEG-2 still the box can show: " + std::string(reason) + ".";
}

std::string InputInTheWay(std::string_view path) {
  return "Quorvane: Open File Error: " + std::string(path) +
         " would be overwritten by this build's output; move it out of the working directory!";
}

std::string SourceUnreadable(std::string_view what, std::string_view path) {
  return "Quorvane: Open File Error: the " + std::string(what) + " " + std::string(path) +
         " can no longer be read whole!";
}

std::string HttpCfgTooLarge(uint32_t limit) {
  return "Quorvane: httpcfg.ini has grown larger than the " + std::to_string(limit) +
         " bytes of its partition!";
}

std::string PartitionsDoNotFit(std::string_view problem) {
  return "Quorvane: The partitions do not fit the image: " + std::string(problem) + "!";
}

std::string DamagedImage(const std::vector<std::string>& damage) {
  std::string text =
      "Quorvane: The image's checksums do not match its contents; it is damaged or was edited "
      "by hand:";
  for (const std::string& part : damage)
    text += "\r  " + part;
  return text;
}

std::string OutputsExist(const std::vector<std::string>& names, std::string_view directory) {
  std::string text = "Quorvane: ";
  for (size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? "" : " and ") + names[i];
  return text + (names.size() == 1 ? " exists" : " exist") + " already in " +
         std::string(directory) + ".";
}

std::string IdentityNotCarried(std::string_view field) {
  return "Quorvane: The manufacturer block's " + std::string(field) +
         " cannot go into the download header as it stands (a blank, tab, line break, bracket "
         "or equals sign in it, or an empty text, would cut it or shift the fields after it)!";
}

std::string CreateFileFailed(std::string_view reason) {
  return std::string(kCreateFileFailed) + "\r\r" + std::string(reason) + ".";
}

std::string OutputNotWritten(std::string_view reason) {
  return "Quorvane: The outputs were not written: " + std::string(reason) + "!";
}

std::string RegionOnlyInMergedImage(std::string_view what, std::string_view merged_name) {
  const std::string region(what);
  return "Quorvane: An app image's download file ends before the " + region + " region: the " +
         region + " goes into " + std::string(merged_name) + " only.";
}

std::string RegionWouldBeLost(std::string_view what) {
  const std::string region(what);
  return "Quorvane: Open File Error: an app image's download file ends before the " + region +
         " region, and a job opened from a download file keeps no merged image: the " + region +
         " would be lost!";
}

std::string PictureTooLarge(std::string_view reason) {
  return "Quorvane: Open File Error: " + std::string(reason) + "!";
}

std::string PictureUnreadable(std::string_view reason) {
  return "Quorvane: Open File Error: " + std::string(reason) + "!";
}

std::string PictureFitted(int32_t width, int32_t height, int32_t new_width, int32_t new_height) {
  return "Quorvane: The picture of " + std::to_string(width) + "*" + std::to_string(height) +
         " was scaled to fit " + std::to_string(new_width) + "*" + std::to_string(new_height) +
         ", keeping its aspect ratio, centred on black.";
}

std::string WindowCaptionFor(std::string_view file_name) {
  return std::string(file_name) + " - " + kWindowCaption;
}

std::string NotAnImage(std::string_view path, std::string_view reason) {
  return "Quorvane: " + std::string(path) +
         " is not an image this tool handles: " + std::string(reason) + ".";
}

std::string NamesTaken(const std::vector<std::string>& names, std::string_view directory) {
  std::string text = "Quorvane: " + std::string(directory) + " holds ";
  text += names.size() == 1 ? "a file" : std::to_string(names.size()) + " files";
  text += " of the same name" + std::string(names.size() == 1 ? "" : "s") + " already:";
  for (const std::string& name : names)
    text += " " + name;
  return text + ".";
}

std::string Extracted(size_t count, std::string_view directory) {
  return "Quorvane: " + std::to_string(count) + " files written into " + std::string(directory) +
         ".";
}

std::string CannotPack(std::string_view directory, std::string_view problem) {
  return "Quorvane: cannot pack " + std::string(directory) + ": " + std::string(problem) + ".";
}

std::string Packed(std::string_view out) {
  return "Quorvane: " + std::string(out) + " written: the extracted image, unchanged.";
}

std::string Succeeded(std::string_view merged_name, std::string_view download_name) {
  return "Quorvanex: Succeed!  [ Create File: " + std::string(merged_name) + ", " +
         std::string(download_name) + "]";
}

std::string Succeeded(std::string_view download_name) {
  return "Quorvanex: Succeed!  [ Create File: " + std::string(download_name) + "]";
}

}  // namespace qv::text

namespace qv {

const char* CaptionOf(MessageKind kind) {
  switch (kind) {
    case MessageKind::kError:
      return "Error";
    case MessageKind::kInformation:
      return "Information";
    case MessageKind::kPlain:
    case MessageKind::kRunTimeError:
      break;
  }
  return text::kApplicationTitle;
}

}  // namespace qv
