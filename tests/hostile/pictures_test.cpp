// Logo pictures that lie about themselves: bitmaps whose headers claim what their bytes do
// not hold, and JPEG pictures cut short or damaged. Each goes through the command (as a
// chosen logo) and the bitmaps also straight through the still converter.
#include <filesystem>

#include "platform/bitmap.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/run_program.h"
#include "tests/support/test_pictures.h"
#include "workfiles/parameter_files.h"

namespace qv::testing {
namespace {

std::vector<uint8_t> Logo(int width, int height) {
  return EncodeBitmap(MakePicture(PictureKind::kFlatLogo, width, height, 4));
}

std::vector<uint8_t> With32(std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
  WriteLe32(&bytes[offset], value);
  return bytes;
}

std::vector<uint8_t> With16(std::vector<uint8_t> bytes, size_t offset, uint32_t value) {
  WriteLe16(&bytes[offset], value);
  return bytes;
}

// An 8-bit bitmap with a four-colour table.
std::vector<uint8_t> Indexed(int width, int height, uint8_t index) {
  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.bits_per_pixel = 8;
  bitmap.palette = {0x000000, 0xFF0000, 0x00FF00, 0xFFFFFF};
  bitmap.pixels.assign(bitmap.RowBytes() * static_cast<size_t>(height), index);
  return EncodeBitmap(bitmap);
}

struct Lie {
  const char* what;
  std::vector<uint8_t> bytes;
  const char* message;  // what the refusal names
  // What the tool's refusal names, when it refuses the picture before the bitmap loader reads
  // it (a side larger than any logo picture's); by default the loader's message.
  const char* tool_message = nullptr;
};

constexpr char kLargerThanALogo[] = "more than the 16384 a side a logo picture may have";

std::vector<Lie> Lies() {
  std::vector<uint8_t> pal = Logo(720, 576);
  std::vector<uint8_t> rows_missing(pal.begin(), pal.begin() + 54 + 2160 * 100);
  return {
      {"576 rows claimed, 100 there", rows_missing, "the pixel data at offset 0x36"},
      {"pixel data offset far past the end", With32(pal, 10, 0xFFFFFFF0),
       "the pixel data at offset 0xFFFFFFF0"},
      {"information header of 65,535 bytes", With32(pal, 14, 0xFFFF),
       "information header size 65535"},
      {"124-byte header in a 60-byte file",
       With32(std::vector<uint8_t>(pal.begin(), pal.begin() + 60), 14, 124),
       "the information header at offset 0xE (124 bytes)"},
      {"width of 2^31 - 1", With32(pal, 18, 0x7FFFFFFF), "size 2147483647 x 576 is out of range",
       kLargerThanALogo},
      {"height of -2^31", With32(pal, 22, 0x80000000), "size 720 x 2147483648 is out of range",
       kLargerThanALogo},
      {"height 0", With32(pal, 22, 0), "size 720 x 0 is out of range"},
      {"width x height x depth past 4 GiB", With32(With32(pal, 18, 32768), 22, 32768),
       "the pixel data", kLargerThanALogo},
      {"a plane count of 2", With16(pal, 26, 2), "plane count 2 is not 1"},
      {"23 bits per pixel", With16(pal, 28, 23), "23 bits per pixel is not a bitmap depth"},
      {"run-length compression", With32(pal, 30, 1), "run-length compression 1 needs 8 bits"},
      {"a colour count of 300 at 8 bits", With32(Indexed(16, 16, 1), 46, 300),
       "colour count 300 exceeds"},
      {"a colour past the colour table", Indexed(16, 16, 9),
       "pixel (0, 0) uses a colour past the colour table"},
      {"bit-field masks of zero", With32(With32(With16(pal, 28, 32), 30, 3), 54, 0),
       "the colour masks are invalid"},
  };
}

class LyingBitmaps : public Hostile {};

TEST_F(LyingBitmaps, AreRefusedAsLogoPictures) {
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  for (const Lie& lie : Lies()) {
    const std::string expected = lie.tool_message ? std::string(lie.tool_message)
                                                  : std::string("Bitmap file: ") + lie.message;
    EXPECT_TRUE(Refused(Build(image, {"--boot", WriteInput("logo.bmp", lie.bytes)}), expected))
        << lie.what;
  }
  ExpectNoResult();
}

TEST_F(LyingBitmaps, AreRefusedByTheStillConverter) {
  // The converter in a directory of its own with its parameter files, as the tool runs it.
  const std::string converter = Work() + "/formatswitch.exe";
  std::filesystem::copy_file(ProgramPath("formatswitch"), converter);
  WriteWholeFile(
      Work() + "/PAL.par",
      std::span(reinterpret_cast<const uint8_t*>(kPalParContent.data()), kPalParContent.size()));
  WriteWholeFile(
      Work() + "/NTSC.par",
      std::span(reinterpret_cast<const uint8_t*>(kNtscParContent.data()), kNtscParContent.size()));
  for (const Lie& lie : Lies()) {
    WriteWholeFile(Work() + "/boot.bmp", lie.bytes);
    HostileRun run = RunHostile(converter, {"-c", "boot.bmp"}, Work());
    EXPECT_TRUE(Refused(run, "Error: ")) << lie.what;
    EXPECT_FALSE(std::filesystem::exists(Work() + "/boot.m2v")) << lie.what;
  }
  // A sound picture whose header only misstates the file's length is taken as it is.
  WriteWholeFile(Work() + "/boot.bmp", With32(Logo(720, 480), 2, 12));
  EXPECT_TRUE(Succeeded(RunHostile(converter, {"-c", "boot.bmp"}, Work())));
  EXPECT_TRUE(std::filesystem::exists(Work() + "/boot.m2v"));
}

class BrokenJpegs : public Hostile {
 protected:
  std::vector<uint8_t> Jpeg(int width, int height) {
    std::string path = Input("source.jpg");
    WriteJpeg(MakePicture(PictureKind::kPhoto, width, height, 5), path, 85);
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    std::filesystem::remove(path);
    return bytes;
  }
  static size_t ScanStart(const std::vector<uint8_t>& jpeg) {
    for (size_t i = 0; i + 1 < jpeg.size(); ++i) {
      if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) return i + 2 + ReadLe16BigEndian(&jpeg[i + 2]);
    }
    return jpeg.size();
  }
  static uint32_t ReadLe16BigEndian(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 8 | bytes[1];
  }
};

TEST_F(BrokenJpegs, CutShortAtManyPointsAreRefused) {
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  std::vector<uint8_t> whole = Jpeg(720, 576);
  const size_t scan = ScanStart(whole);
  for (size_t cut : {size_t{1}, size_t{2}, size_t{20}, scan - 1, scan, scan + 1, scan + 500,
                     whole.size() / 2, whole.size() - 2, whole.size() - 1}) {
    std::vector<uint8_t> bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_TRUE(
        Refused(Build(image, {"--boot", WriteInput("logo.jpg", bytes)}), "Quorvan[1.0.00]: "))
        << cut;
  }
  ExpectNoResult();
}

TEST_F(BrokenJpegs, DamagedPicturesAreRefused) {
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  std::vector<uint8_t> whole = Jpeg(720, 576);
  const size_t scan = ScanStart(whole);
  std::vector<std::pair<const char*, std::vector<uint8_t>>> cases;
  std::vector<uint8_t> bytes = whole;
  for (size_t i = scan + 50; i + 2 < bytes.size(); i += 97)
    bytes[i] ^= 0x5A;
  cases.emplace_back("damaged scan data", bytes);
  bytes = whole;
  for (size_t i = 0; i + 9 < bytes.size(); ++i) {
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 7] = bytes[i + 8] = 0xFF;  // 65,535 columns
      bytes[i + 5] = bytes[i + 6] = 0xFF;  // and rows
      break;
    }
  }
  cases.emplace_back("65,535 x 65,535 pixels claimed", bytes);
  bytes = whole;
  bytes.erase(bytes.begin() + 2, bytes.begin() + static_cast<std::ptrdiff_t>(scan - 2));
  cases.emplace_back("no tables and no frame header", bytes);
  cases.emplace_back("not a JPEG at all", Logo(720, 576));
  for (const auto& [what, damaged] : cases) {
    EXPECT_TRUE(
        Refused(Build(image, {"--menu", WriteInput("logo.jpg", damaged)}), "Quorvan[1.0.00]: "))
        << what;
  }
  ExpectNoResult();
}

}  // namespace
}  // namespace qv::testing
