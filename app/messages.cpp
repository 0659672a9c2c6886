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
