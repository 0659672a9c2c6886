#include "workfiles/logo_picture.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <utility>

#include "platform/file.h"
#include "platform/little_endian.h"
#include "platform/pending_file.h"
#include "workfiles/fit_picture.h"
#include "workfiles/jpeg_picture.h"
#include "workfiles/png_picture.h"

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

// The width and height a bitmap file's header gives, read from its first bytes: 32-bit in the
// information headers, 16-bit in the 12-byte core header; nothing for too few bytes or a file
// that is no bitmap, which the loader refuses with its own reason.
std::optional<std::pair<int64_t, int64_t>> BitmapDimensions(std::span<const uint8_t> file) {
  if (file.size() < 26 || file[0] != 'B' || file[1] != 'M') return std::nullopt;
  if (ReadLe32(&file[14]) == 12)
    return std::pair<int64_t, int64_t>{ReadLe16(&file[18]), ReadLe16(&file[20])};
  const auto height = static_cast<int32_t>(ReadLe32(&file[22]));
  return std::pair<int64_t, int64_t>{static_cast<int32_t>(ReadLe32(&file[18])),
                                     height < 0 ? -int64_t{height} : int64_t{height}};
}

// The chosen picture's bytes, when neither its file nor the picture its header describes is
// larger than a logo picture may come from; checked before anything is copied or decoded.
Result<std::vector<uint8_t>> ReadPictureFile(const std::string& path,
                                             const std::string& extension) {
  File file = File::Open(path, File::Mode::kRead);
  const std::string name = std::filesystem::path(path).filename().string();
  const int64_t size = file.Size();
  if (size > kLargestPictureFile) {
    return Fail("file size", -1,
                "the picture " + name + " has " + std::to_string(size) +
                    " bytes, more than the 64 MiB a logo picture may come from");
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  bytes.resize(file.ReadAt(0, bytes));
  std::optional<std::pair<int64_t, int64_t>> dimensions;
  if (extension == ".jpg") {
    if (auto jpeg = JpegDimensions(bytes)) dimensions.emplace(jpeg->first, jpeg->second);
  } else if (extension == ".png") {
    if (auto png = PngDimensions(bytes)) dimensions.emplace(png->first, png->second);
  } else {
    dimensions = BitmapDimensions(bytes);
  }
  if (dimensions &&
      (dimensions->first > kLargestPictureSide || dimensions->second > kLargestPictureSide)) {
    return Fail("width", 18,
                "the picture " + name + " is " + std::to_string(dimensions->first) + " x " +
                    std::to_string(dimensions->second) + " pixels, more than the " +
                    std::to_string(kLargestPictureSide) + " a side a logo picture may have");
  }
  // A PNG's pixels are bounded before libpng is asked for them, as a JPEG's are by its decoder.
  if (extension == ".png" && dimensions &&
      static_cast<uint64_t>(dimensions->first * dimensions->second) > kLargestPicturePixels) {
    return Fail("width", 16,
                "the picture " + name + " is " + std::to_string(dimensions->first) + " x " +
                    std::to_string(dimensions->second) + " pixels, more than the " +
                    std::to_string(kLargestPicturePixels) + " pixels a logo picture may have");
  }
  return bytes;
}

}  // namespace

namespace {

// The depth test of CheckPicture: the saved file's bit count must be 24.
Result<void> CheckSavedDepth(const std::string& saved_file) {
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
  return {};
}

}  // namespace

int32_t StandardHeight(int32_t height) {
  if (height == kPalHeight || height == kNtscHeight) return height;
  return height > kHeightThreshold ? kPalHeight : kNtscHeight;
}

Result<std::optional<PictureSize>> CheckPicture(Bitmap& picture, const std::string& saved_file) {
  if (Result<void> depth = CheckSavedDepth(saved_file); !depth)
    return tl::unexpected(depth.error());

  const PictureSize own{picture.width, picture.height};
  int32_t new_width = kStandardWidth;
  const int32_t new_height = StandardHeight(own.height);
  if (new_width == own.width && new_height == own.height) return std::nullopt;
  SetBitmapSize(picture, new_width, new_height);
  return own;
}

LogoPictureResult PrepareLogoPicture(const std::string& chosen_file, LogoKind kind,
                                     const std::string& working_directory,
                                     std::optional<FitStandard> fit) {
  LogoPictureResult result;
  std::string extension = LowerExtension(chosen_file);
  if (extension != ".jpg" && extension != ".bmp" && extension != ".png") {
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

  Result<std::vector<uint8_t>> file = ReadPictureFile(chosen_file, extension);
  if (!file) {
    result.refusal = PictureRefusal::kTooLarge;
    result.too_large = file.error().text;
    return result;
  }
  Bitmap picture;
  if (extension == ".jpg") {
    picture = DecodeJpeg(*file);
    result.preview.picture = picture;
    SaveBitmap(picture, candidate);
  } else if (extension == ".png") {
    Result<Bitmap> decoded = DecodePng(*file, kLargestPicturePixels);
    if (!decoded) {
      result.refusal = PictureRefusal::kUnreadable;
      result.unreadable = "the picture " + std::filesystem::path(chosen_file).filename().string() +
                          " is no PNG picture the tool can read (" + decoded.error().text + ")";
      return result;
    }
    picture = std::move(*decoded);
    result.preview.picture = picture;
    SaveBitmap(picture, candidate);
  } else {
    WriteWholeFile(candidate, *file);
    picture = LoadBitmap(candidate);
    SaveBitmap(picture, candidate);  // at the depth it was loaded with
    result.preview.file = chosen_file;
  }

  if (fit) {
    if (!CheckSavedDepth(candidate)) {
      result.refusal = PictureRefusal::kPixelDepth;
      return result;
    }
    const PictureSize standard{kStandardWidth,
                               *fit == FitStandard::kNtsc ? kNtscHeight : kPalHeight};
    if (picture.width != standard.width || picture.height != standard.height) {
      result.resized_from = PictureSize{picture.width, picture.height};
      result.fitted = true;
      result.fitted_to = standard;
      picture = FitPicture(picture, standard.width, standard.height);
    }
    WriteFileAtomically(target, EncodeBitmap(picture));
    return result;
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
