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

Result<std::optional<PictureSize>> CheckPicture(Bitmap& picture, const std::string& saved_file) {
  uint8_t bit_count[2] = {};
  size_t read;
  {
    File file = File::Open(saved_file, File::Mode::kRead);
    read = file.ReadAt(kBitCountOffset, bit_count);
  }
  // A file too short to hold the field has no valid depth.
  if (read != sizeof bit_count)
    return Fail("bit count", kBitCountOffset, "the saved picture ends before its bit count");
  if (ReadLe16(bit_count) != 24) {
    return Fail(
        "bit count", kBitCountOffset,
        "the saved picture has " + std::to_string(ReadLe16(bit_count)) + " bits per pixel, not 24");
  }

  const PictureSize own{picture.width, picture.height};
  int32_t new_width = kStandardWidth;
  int32_t new_height = own.height;
  if (own.height != kPalHeight && own.height != kNtscHeight)
    new_height = own.height > kHeightThreshold ? kPalHeight : kNtscHeight;
  if (new_width == own.width && new_height == own.height) return std::nullopt;
  SetBitmapSize(picture, new_width, new_height);
  return own;
}

LogoPictureResult PrepareLogoPicture(const std::string& chosen_file, LogoKind kind,
                                     const std::string& working_directory) {
  LogoPictureResult result;
  std::string extension = LowerExtension(chosen_file);
  if (extension != ".jpg" && extension != ".bmp") {
    // Nothing to load: testing an older logo picture of this kind would accept a picture the
    // user did not choose.
    result.refusal = PictureRefusal::kNotJpegOrBmp;
    return result;
  }

  // The picture is saved and tested beside the logo picture and takes its name only when
  // accepted, so a rejected picture never replaces the picture of an earlier choice.
  std::string target = JoinPath(working_directory, NamesOf(kind).picture);
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

  Result<std::optional<PictureSize>> checked = CheckPicture(picture, candidate);
  if (!checked) {
    result.refusal = PictureRefusal::kPixelDepth;
    return result;
  }
  result.resized_from = *checked;
  WriteFileAtomically(target, EncodeBitmap(picture));
  return result;
}

}  // namespace qv
