#include "app/image_file.h"

#include <cerrno>
#include <limits>

#include "download/download_file.h"
#include "image/partition_directory.h"
#include "platform/file.h"
#include "platform/hex.h"
#include "platform/io_error.h"

namespace qv {

namespace {

Result<ImageFile> ReadDownloadFile(File& file, int64_t size) {
  // The largest bound of any variant; cut to the variant's own once it is known.
  std::vector<uint8_t> bytes(
      std::min<size_t>(static_cast<size_t>(size), DownloadInputBound(kFullImage)));
  bytes.resize(file.ReadAt(0, bytes));
  std::optional<uint8_t> count = PartitionCountByte(bytes);
  if (!count) {
    return Fail("PARTITION_COUNT", kPartitionCountOffset,
                "the download file is shorter than its 79-byte header");
  }
  const Variant variant = VariantFromPartitionCount(*count);
  if (variant == kUnrecognised) {
    return Fail("PARTITION_COUNT", kPartitionCountOffset,
                "the download file's partition count is " + std::to_string(*count) +
                    ", not 102, 130 or 142");
  }
  bytes.resize(std::min(bytes.size(), DownloadInputBound(variant)));
  return ImageFile{ImageFileKind::kDownloadFile, variant, std::move(bytes)};
}

Result<ImageFile> ReadFlashImageFile(File& file, int64_t size) {
  // Sizes as the file-size query gives them: a signed 32-bit count.
  if (size > std::numeric_limits<int32_t>::max()) throw IoError::FromErrno(EFBIG);
  const Variant variant = VariantFromImageSize(static_cast<int32_t>(size));
  if (variant == kUnrecognised) {
    return Fail(
        "file size", -1,
        "a flash image is 0x660000, 0x7B0000 or 0x800000 bytes long; this file has " + Hex(size));
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  const size_t read = file.ReadAt(0, bytes);
  if (read != bytes.size()) {
    return Fail(
        "file size", static_cast<int64_t>(read),
        "the file ended at " + Hex(read) + " while it was read; it had " + Hex(size) + " bytes");
  }
  return ImageFile{ImageFileKind::kFlashImage, variant, std::move(bytes)};
}

}  // namespace

bool IsDownloadFileName(const std::string& path) {
  return EqualsIgnoringCase(ExtensionOf(path), ".dld");
}

Result<ImageFile> ReadImageFile(const std::string& path) {
  File file = File::Open(path, File::Mode::kRead);
  const int64_t size = file.Size();
  return IsDownloadFileName(path) ? ReadDownloadFile(file, size) : ReadFlashImageFile(file, size);
}

Result<LoadedImage> LoadImage(const std::string& path) {
  Result<ImageFile> file = ReadImageFile(path);
  if (!file) return tl::unexpected<Error>(file.error());
  const ImageFileKind kind = file->kind;
  const Variant variant = file->variant;
  Result<std::vector<uint8_t>> bytes = FlashBytesOf(std::move(*file));
  if (!bytes) {
    return Fail(bytes.error().field, bytes.error().offset,
                "the download file cannot be converted: " + bytes.error().text);
  }
  Result<FlashImage> image = FlashImage::Parse(std::move(*bytes), variant);
  if (!image) return tl::unexpected<Error>(image.error());
  return LoadedImage{kind, std::move(*image)};
}

Result<std::vector<uint8_t>> FlashBytesOf(ImageFile file) {
  if (file.kind == ImageFileKind::kFlashImage) return std::move(file.bytes);
  std::vector<uint8_t> image;
  Result<void> converted = ConvertDownloadBytes(file.bytes, file.variant, image);
  if (!converted) return tl::unexpected<Error>(converted.error());
  return image;
}

}  // namespace qv
