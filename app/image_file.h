#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/flash_image.h"
#include "image/variant.h"
#include "platform/result.h"

// An image file as the tool opens it: read once, and classified as a flash image (by its size)
// or a download file (by its ".dld" extension, and its variant by its partition count byte).
namespace qv {

enum class ImageFileKind { kFlashImage, kDownloadFile };

struct ImageFile {
  ImageFileKind kind;
  Variant variant;  // 5, 6 or 7
  // The file's bytes; of a download file at most what its conversion can look at.
  std::vector<uint8_t> bytes;
};

// True for a name whose extension is ".dld" in any letter case.
bool IsDownloadFileName(const std::string& path);

// Reads and classifies the file at `path`. Fails for a file of no image variant: a flash image
// of another size, a download file shorter than its header or with another partition count.
// Raises IoError when the file cannot be read.
[[nodiscard]] Result<ImageFile> ReadImageFile(const std::string& path);

// The file's image in the flash layout of its variant: a flash image as it is, a download file
// converted. Fails for a download file whose records are damaged; the error says where.
[[nodiscard]] Result<std::vector<uint8_t>> FlashBytesOf(ImageFile file);

// An image file read, classified, converted and parsed: what the commands that only look at an
// image (extract, diff) start from.
struct LoadedImage {
  ImageFileKind kind;
  FlashImage image;
};

// All three steps at once. Fails for a file of no image variant, a damaged download file (the
// error text begins "the download file cannot be converted: ") and a directory that is unsafe
// to work with. Raises IoError when the file cannot be read.
[[nodiscard]] Result<LoadedImage> LoadImage(const std::string& path);

}  // namespace qv
