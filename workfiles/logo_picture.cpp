#include "workfiles/logo_picture.h"

#include <algorithm>
#include <cctype>

#include "platform/file.h"
#include "platform/little_endian.h"
#include "workfiles/jpeg_picture.h"

namespace qv {

namespace {

constexpr int32_t kStandardWidth = 720;
constexpr int32_t kPalHeight = 576;
constexpr int32_t kNtscHeight = 480;
constexpr int32_t kHeightThreshold = 528;  // above it a picture becomes 576 rows high
constexpr int64_t kBitCountOffset = 28;

std::string LowerExtension(const std::string& path) {
  std::string extension = ExtensionOf(path);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

std::string JoinPath(const std::string& directory, std::string_view name) {
  if (directory.empty() || directory.back() == '/') return directory + std::string(name);
  return directory + "/" + std::string(name);
}

}  // namespace

std::string PictureSizeMessage(int32_t width, int32_t height) {
  return "Quorvane: The size of the picture: " + std::to_string(width) + "*" +
         std::to_string(height) +
         "...\r\rStandard picture size: [24 Bit], [720*576] or [720*480].\r\r"
         "Will from top left corner intercept 720*576 sizes.";
}

bool CheckPicture(Bitmap& picture, const std::string& saved_file,
                  std::vector<LogoMessage>& messages) {
  uint8_t bit_count[2] = {};
  {
    File file = File::Open(saved_file, File::Mode::kRead);
    // A file too short to hold the field has no valid depth.
    if (file.ReadAt(kBitCountOffset, bit_count) != sizeof bit_count) return false;
  }
  if (ReadLe16(bit_count) != 24) return false;

  int32_t width = picture.width;
  int32_t height = picture.height;
  int32_t new_width = width == kStandardWidth ? width : kStandardWidth;
  int32_t new_height = height;
  if (height != kPalHeight && height != kNtscHeight) {
    new_height = height > kHeightThreshold ? kPalHeight : kNtscHeight;
  }
  if (new_width != width || new_height != height) {
    SetBitmapSize(picture, new_width, new_height);
    messages.push_back({LogoMessage::Kind::kInformation, PictureSizeMessage(width, height)});
  }
  return true;
}

LogoPictureResult PrepareLogoPicture(const std::string& chosen_file, LogoKind kind,
                                     const std::string& working_directory) {
  LogoPictureResult result;
  std::string extension = LowerExtension(chosen_file);
  if (extension != ".jpg" && extension != ".bmp") {
    // Nothing to load: testing an older logo picture of this kind would accept a picture the
    // user did not choose.
    result.messages.push_back({LogoMessage::Kind::kError, std::string(kPictureTypeMessage)});
    return result;
  }

  // The picture is saved and tested beside the logo picture and takes its name only when
  // accepted, so a rejected picture never replaces the picture of an earlier choice.
  std::string target = JoinPath(working_directory, LogoPictureName(kind));
  std::string candidate = target + ".new";
  struct RemoveOnExit {
    const std::string& path;
    ~RemoveOnExit() { RemoveFile(path); }
  } cleanup{candidate};

  Bitmap picture;
  if (extension == ".jpg") {
    picture = DecodeJpegFile(chosen_file);
    result.preview.picture = picture;
    SaveBitmap(picture, candidate);
  } else {
    WriteWholeFile(candidate, ReadWholeFile(chosen_file));
    picture = LoadBitmap(candidate);
    SaveBitmap(picture, candidate);  // at the depth it was loaded with
    result.preview.file = chosen_file;
  }

  if (!CheckPicture(picture, candidate, result.messages)) {
    result.messages.push_back({LogoMessage::Kind::kError, std::string(kPixelDepthMessage)});
    return result;
  }
  WriteFileAtomically(target, EncodeBitmap(picture));
  result.accepted = true;
  return result;
}

}  // namespace qv
