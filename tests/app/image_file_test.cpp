// Opening an image file: one read, and the kind and variant it holds.
#include "app/image_file.h"

#include <gtest/gtest.h>

#include "download/download_file.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

TEST(ImageFile, ADownloadFileNeedsSixtyOneBytesToNameItsVariant) {
  testing::TempDir dir;
  std::vector<uint8_t> bytes(61, 0);
  bytes[60] = 130;
  EXPECT_EQ(PartitionCountByte(bytes), std::optional<uint8_t>(130));
  WriteWholeFile(dir.File("ok.dld"), bytes);
  Result<ImageFile> file = ReadImageFile(dir.File("ok.dld"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->kind, ImageFileKind::kDownloadFile);
  EXPECT_EQ(file->variant, kAllImage);

  bytes.resize(60);
  EXPECT_EQ(PartitionCountByte(bytes), std::nullopt);
  WriteWholeFile(dir.File("short.DLD"), bytes);
  file = ReadImageFile(dir.File("short.DLD"));
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().text, "the download file is shorter than its 79-byte header");
  EXPECT_EQ(file.error().offset, 60);

  bytes.assign(79, 0);
  bytes[60] = 4;  // a default database download holds no image
  WriteWholeFile(dir.File("four.dld"), bytes);
  file = ReadImageFile(dir.File("four.dld"));
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().text, "the download file's partition count is 4, not 102, 130 or 142");

  try {
    (void)ReadImageFile(dir.File("absent.dld"));
    FAIL() << "no error for a missing file";
  } catch (const IoError& error) {
    EXPECT_STREQ(error.what(), "File not found");
  }
}

TEST(ImageFile, AFlashImageIsNamedByItsExactSize) {
  testing::TempDir dir;
  for (Variant variant : {kAppImage, kAllImage, kFullImage}) {
    std::vector<uint8_t> image = sample::BuildFlashImage(sample::DefaultImageSpec(variant));
    WriteWholeFile(dir.File("box.bin"), image);
    Result<ImageFile> file = ReadImageFile(dir.File("box.bin"));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->kind, ImageFileKind::kFlashImage);
    EXPECT_EQ(file->variant, variant);
    Result<std::vector<uint8_t>> bytes = FlashBytesOf(std::move(*file));
    ASSERT_TRUE(bytes);
    EXPECT_TRUE(*bytes == image);
  }
  WriteWholeFile(dir.File("odd.img"), std::vector<uint8_t>(0x660001, 0xFF));
  Result<ImageFile> file = ReadImageFile(dir.File("odd.img"));
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().text,
            "a flash image is 0x660000, 0x7B0000 or 0x800000 bytes long; this file has 0x660001");
}

TEST(ImageFile, ADownloadFileConvertsIntoTheImageItWasMadeFrom) {
  testing::TempDir dir;
  sample::ImageSpec spec = sample::DefaultImageSpec(kFullImage);
  std::vector<uint8_t> image = sample::BuildFlashImage(spec);
  std::vector<uint8_t> download = sample::BuildDownload(image, sample::DownloadSpecFor(spec));
  WriteWholeFile(dir.File("box.dld"), download);
  Result<ImageFile> file = ReadImageFile(dir.File("box.dld"));
  ASSERT_TRUE(file);
  Result<std::vector<uint8_t>> bytes = FlashBytesOf(std::move(*file));
  ASSERT_TRUE(bytes);
  EXPECT_TRUE(*bytes == image);

  download[5000] ^= 1;
  WriteWholeFile(dir.File("damaged.dld"), download);
  file = ReadImageFile(dir.File("damaged.dld"));
  ASSERT_TRUE(file);
  bytes = FlashBytesOf(std::move(*file));
  ASSERT_FALSE(bytes);
  EXPECT_NE(bytes.error().text.find("sector data record"), std::string::npos) << bytes.error().text;
}

}  // namespace
}  // namespace qv
