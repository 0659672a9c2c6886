// Writes the seed corpora of the fuzz targets into <directory>/<target>/: images and download
// files from the sample image builder, the tool's own configuration and parameter files,
// pictures made in code, and the manifests of extractions of sample images. Run once to start the
// corpora; the fuzzers grow them.
//   make_fuzz_seeds fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "app/extraction.h"
#include "app/image_file.h"
#include "app/manifest.h"
#include "download/key_block.h"
#include "formatswitch/converter.h"
#include "fuzz/image_template.h"
#include "image/flash_image.h"
#include "image/manufacturer_block.h"
#include "image/partition_directory.h"
#include "image/variant.h"
#include "platform/bitmap.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"
#include "workfiles/header_configs.h"
#include "workfiles/parameter_files.h"

namespace {

using namespace qv;
namespace fs = std::filesystem;

std::string root;

void Seed(const std::string& target, const std::string& name, std::span<const uint8_t> bytes) {
  fs::create_directories(root + "/" + target);
  WriteWholeFile(root + "/" + target + "/seed-" + name, bytes);
}

void Seed(const std::string& target, const std::string& name, std::string_view text) {
  Seed(target, name, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::vector<uint8_t> Prefixed(uint8_t first, std::span<const uint8_t> rest) {
  std::vector<uint8_t> bytes{first};
  bytes.insert(bytes.end(), rest.begin(), rest.end());
  return bytes;
}

// Download files of every variant; the images are erased but for a few sectors of varied
// bytes, so the seeds stay small.
void DownloadSeeds() {
  const Variant variants[] = {kKeyDownload, kDefaultDownload, kAppImage, kAllImage, kFullImage};
  for (uint8_t index = 0; index < 5; ++index) {
    Variant variant = variants[index];
    uint32_t length = ErasedBlockCount(variant) * kBlockSize;
    std::vector<uint8_t> image(length, 0xFF);
    std::vector<uint8_t> varied = sample::CodeLikeBytes(0x3000, 7 + index);
    std::copy(varied.begin(), varied.end(), image.begin());
    if (length > 0x10000) std::copy(varied.begin(), varied.end(), image.end() - 0x3000);
    sample::DownloadSpec spec;
    spec.variant = variant;
    Seed("download", testing::VariantLabel(variant),
         Prefixed(index, sample::BuildDownload(image, spec)));
  }
}

// Each variant's sound image as the image target lays its input over it: the directory, the
// manufacturer block and the "httpcfg" partition's data, once read only and once built.
void ImageSeeds() {
  for (uint8_t index = 0; index < 3; ++index) {
    Variant variant = std::array{kAppImage, kAllImage, kFullImage}[index];
    std::vector<uint8_t> image = sample::BuildFlashImage(fuzz::TemplateImageSpec(variant));
    const VariantLayout& layout = *LayoutOf(variant);
    std::vector<uint8_t> input;
    input.insert(input.end(), image.begin() + layout.directory_offset,
                 image.begin() + layout.directory_offset + kDirectorySize);
    input.insert(input.end(), image.begin() + layout.manufacturer_offset,
                 image.begin() + layout.manufacturer_offset + kManufacturerBlockSize);
    PartitionDirectory directory;
    directory.Decode(std::span(image).subspan(layout.directory_offset).first<kDirectorySize>());
    for (int i = 0; i < directory.UsableCount(); ++i) {
      const DirectoryEntry& entry = directory.entries[i];
      if (!entry.NameIs("httpcfg")) continue;
      auto data = image.begin() + layout.area_base + entry.offset;
      input.insert(input.end(), data, data + entry.Length());
    }
    for (uint8_t build : {0, 4}) {
      Seed("image", testing::VariantLabel(variant) + (build ? "-build" : ""),
           Prefixed(static_cast<uint8_t>(index | build), input));
    }
  }
}

// manufacturer.cfg of the sample image, a zero byte, then a configuration: the three the tool
// ships, and small ones whose sectors the fuzz target's 256 KiB image can fill.
void CfgSeeds() {
  std::vector<uint8_t> image = sample::BuildFlashImage(sample::DefaultImageSpec(kAppImage));
  std::string manufacturer;
  for (const std::string& line : ManufacturerCfgLines(DecodeManufacturerBlockAt(image, kAppLayout)))
    manufacturer += line + "\r\n";
  for (const HeaderConfig& config : HeaderConfigs()) {
    Seed("cfg", std::string(config.name), manufacturer + '\0' + std::string(config.text));
  }
  auto small = [&](int compress, int encrypt, int sectors) {
    std::string text =
        "[DownloadHeader_Data]\r\n\r\nDOWNLOAD_TYPE\t \t= 8\t\t\t1\r\n"
        "PARTITION_COUNT \t= " +
        std::to_string(sectors) +
        "                   1\r\n"
        "TRANS_TOTAL_SIZE        = 0x660000              3\r\n"
        "STB_PROJECT_SELECT \t= 2                     1\r\n"
        "COMPRESS_FLAG\t\t= " +
        std::to_string(compress) +
        "                     1\r\n"
        "ENCRYPT_FLAG \t\t= " +
        std::to_string(encrypt) +
        "                     1\r\n"
        "ENCRYPT_KEY \t\t= 0X5D3A96C1E07B428F    8\r\n\r\n\r\n"
        "[Flash_Download_Configuration]\r\n\r\n";
    for (int n = 0; n < sectors; ++n) {
      char lines[200];
      std::snprintf(lines, sizeof lines,
                    "MEMORY_TYPE \t\t= 1\t\t\t\t1\r\nBLK%d_START \t\t= 0x%08X         \t\t4\r\n"
                    "BLK%d_SIZE \t\t= 0X%06X              \t3\r\n\r\n",
                    n + 1, 0xA0050000 + n * 0x2000, n + 1, n % 2 ? 0x2000 : 0x10000);
      text += lines;
    }
    return manufacturer + '\0' + text;
  };
  Seed("cfg", "small-compressed", small(1, 1, 3));
  Seed("cfg", "small-uncompressed", small(0, 1, 2));
  Seed("cfg", "small-no-key", small(1, 0, 2));
}

// The two shipped parameter files, and small pictures' versions of them that the target
// encodes.
void ParameterFileSeeds() {
  Seed("parameter_file", "PAL.par", kPalParContent);
  Seed("parameter_file", "NTSC.par", kNtscParContent);
  auto resized = [](std::string_view text, int width, int height, bool progressive) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at <= text.size()) {
      size_t end = text.find("\r\n", at);
      lines.emplace_back(text.substr(at, end == std::string_view::npos ? text.npos : end - at));
      if (end == std::string_view::npos) break;
      at = end + 2;
    }
    auto set = [&](int line, const std::string& value) {
      std::string& target = lines[static_cast<size_t>(line - 1)];
      target = value + target.substr(target.find(' '));
    };
    set(15, std::to_string(width));
    set(16, std::to_string(height));
    set(31, std::to_string(width));
    set(32, std::to_string(height));
    if (progressive) {
      set(25, "1");
      set(41, "1");
      lines[34] = "1 1 1" + lines[34].substr(lines[34].find(" /"));
    }
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i)
      joined += lines[i] + (i + 1 < lines.size() ? "\r\n" : "");
    return joined;
  };
  Seed("parameter_file", "PAL-32x32.par", resized(kPalParContent, 32, 32, false));
  Seed("parameter_file", "NTSC-48x64.par", resized(kNtscParContent, 48, 64, false));
  Seed("parameter_file", "progressive-16x16.par", resized(kPalParContent, 16, 16, true));
}

// Bitmaps of every depth and header form the loader accepts, and JPEG pictures.
void PictureSeeds() {
  Bitmap photo = testing::MakePicture(testing::PictureKind::kPhoto, 24, 18, 3);
  Seed("bitmap", "24bit", EncodeBitmap(photo));
  Bitmap top_down_source = testing::MakePicture(testing::PictureKind::kFlatLogo, 13, 7, 4);
  std::vector<uint8_t> top_down = EncodeBitmap(top_down_source);
  WriteLe32(&top_down[22], static_cast<uint32_t>(-7));
  Seed("bitmap", "24bit-top-down", top_down);
  for (uint16_t bits : {1, 4, 8}) {
    Bitmap indexed;
    indexed.width = 11;
    indexed.height = 5;
    indexed.bits_per_pixel = bits;
    for (uint32_t i = 0; i < (1u << bits); ++i)
      indexed.palette.push_back(i * 0x010203 & 0xFFFFFF);
    indexed.pixels.assign(indexed.RowBytes() * 5, 0);
    for (size_t i = 0; i < indexed.pixels.size(); ++i)
      indexed.pixels[i] = static_cast<uint8_t>(i * 37);
    if (bits == 4) {
      for (uint8_t& byte : indexed.pixels)
        byte &= 0x77;
    }
    Seed("bitmap", std::to_string(bits) + "bit", EncodeBitmap(indexed));
  }
  for (uint16_t bits : {16, 32}) {
    for (bool explicit_masks : {false, true}) {
      Bitmap packed;
      packed.width = 9;
      packed.height = 4;
      packed.bits_per_pixel = bits;
      packed.explicit_masks = explicit_masks;
      packed.masks = bits == 16 ? std::array<uint32_t, 3>{0xF800, 0x07E0, 0x001F}
                                : std::array<uint32_t, 3>{0x00FF0000, 0x0000FF00, 0x000000FF};
      if (!explicit_masks && bits == 16) packed.masks = {0x7C00, 0x03E0, 0x001F};
      packed.pixels.assign(packed.RowBytes() * 4, 0);
      for (size_t i = 0; i < packed.pixels.size(); ++i)
        packed.pixels[i] = static_cast<uint8_t>(i * 53);
      Seed("bitmap", std::to_string(bits) + "bit" + (explicit_masks ? "-masks" : ""),
           EncodeBitmap(packed));
    }
  }

  const std::string scratch = root + "/.scratch.jpg";
  auto jpeg = [&](const std::string& name, const Bitmap& picture, int quality, bool grey) {
    testing::WriteJpeg(picture, scratch, quality, grey);
    Seed("jpeg", name, ReadWholeFile(scratch));
    RemoveFile(scratch);
  };
  jpeg("colour-24x16.jpg", testing::MakePicture(testing::PictureKind::kPhoto, 24, 16, 5), 80,
       false);
  jpeg("colour-17x9.jpg", testing::MakePicture(testing::PictureKind::kColourBars, 17, 9, 6), 95,
       false);
  jpeg("grey-16x16.jpg", testing::MakePicture(testing::PictureKind::kText, 16, 16, 7), 75, true);

  // PNG pictures of each colour type, with and without interlacing and transparency.
  const std::string png_scratch = root + "/.scratch.png";
  auto png = [&](const std::string& name, int32_t width, int32_t height,
                 const testing::PngLayout& layout) {
    testing::WritePng(png_scratch, width, height, layout,
                      [](int32_t x, int32_t y) -> std::array<uint16_t, 4> {
                        const auto v = static_cast<uint16_t>(x * 37 + y * 11);
                        return {static_cast<uint16_t>(v & 1), v, static_cast<uint16_t>(v * 3),
                                static_cast<uint16_t>(x % 2 ? 0xFFFF : 0)};
                      });
    Seed("png", name, ReadWholeFile(png_scratch));
    RemoveFile(png_scratch);
  };
  png("grey1-9x7.png", 9, 7, {0, 1, false, {}, {}});
  png("palette2-trns-8x5.png", 8, 5, {3, 1, false, {0x102030, 0xF0E0D0}, {0, 255}});
  png("rgb8-17x9-interlaced.png", 17, 9, {2, 8, true, {}, {}});
  png("rgba16-5x6-interlaced.png", 5, 6, {6, 16, true, {}, {}});
  png("greyalpha8-6x4.png", 6, 4, {4, 8, false, {}, {}});
}

// httpcfg.ini texts with the section, key and value the target writes in front, each ended by
// a zero byte.
void IniSeeds() {
  const std::string httpcfg = sample::SampleHttpCfg();
  auto seed = [](const std::string& name, std::string_view section, std::string_view key,
                 std::string_view value, std::string_view text) {
    std::string input;
    for (std::string_view part : {section, key, value})
      (input += part) += '\0';
    Seed("ini", name, input + std::string(text));
  };
  seed("manual-addr", "Http Manual cfg", "httpManualAddr", "http://new.example/", httpcfg);
  seed("auto-key", "http auto filename cfg", "AUTOKEY", "key.dld", httpcfg);
  seed("new-section", "Extra", "Name", "value", httpcfg);
  seed("empty-file", "Http Auto cfg", "httpAutoAddr", "http://a/", "");
  seed("no-line-end", "S", "k", "v", "[S]\r\nk=old\r\nother=1");
}

// Logo stills the tool's converter made, whole, cut short, and cut short with an end code put
// after the cut; and the still decoder target's edits of its own stills.
void StillSeeds() {
  const std::string scratch = root + "/.scratch-stills";
  fs::create_directories(scratch);
  WriteWholeFile(
      scratch + "/PAL.par",
      std::span(reinterpret_cast<const uint8_t*>(kPalParContent.data()), kPalParContent.size()));
  WriteWholeFile(
      scratch + "/NTSC.par",
      std::span(reinterpret_cast<const uint8_t*>(kNtscParContent.data()), kNtscParContent.size()));
  auto still = [&](testing::PictureKind kind, int height) {
    SaveBitmap(testing::MakePicture(kind, 720, height, 11), scratch + "/logo.bmp");
    std::ostringstream messages;
    if (!formatswitch::ConvertPicture("logo.bmp", scratch, messages)) {
      std::fprintf(stderr, "make_fuzz_seeds: %s", messages.str().c_str());
      std::exit(1);
    }
    return ReadWholeFile(scratch + "/logo.m2v");
  };
  const std::vector<uint8_t> logo = still(testing::PictureKind::kFlatLogo, 576);
  const std::vector<uint8_t> photo = still(testing::PictureKind::kPhoto, 480);
  fs::remove_all(scratch);
  Seed("still_decoder", "flat-logo-576.m2v", Prefixed(0, logo));
  Seed("still_decoder", "photo-480.m2v", Prefixed(0, photo));
  const std::span<const uint8_t> half = std::span(photo).first(photo.size() / 2);
  Seed("still_decoder", "photo-480-cut.m2v", Prefixed(0, half));
  std::vector<uint8_t> ended(half.begin(), half.end());
  ended.insert(ended.end(), {0x00, 0x00, 0x01, 0xB7});
  Seed("still_decoder", "photo-480-cut-ended.m2v", Prefixed(0, ended));
  // Edits: none of the 576-row still; a byte inside a slice; a cut with an end code.
  Seed("still_decoder", "edit-none", std::vector<uint8_t>{1});
  Seed("still_decoder", "edit-slice-byte", std::vector<uint8_t>{3, 0x00, 0x20, 0, 0x5A});
  Seed("still_decoder", "edit-cut-ended", std::vector<uint8_t>{1, 0x00, 0x30, 3, 1});
}

// The manifest.json of extractions of each variant's sample image, extracted from its flash
// image and from a download file of it; and of an all image changed so that its manifest
// names more: a compressed key block in the key region (its key data extracted), bytes that
// are not erased in the first range no part covers (the unused file), and a changed byte in
// the first partition: damage to its region and the key block's.
void ManifestSeeds() {
  auto extract = [](const std::string& name, ImageFileKind kind, std::vector<uint8_t> flash,
                    Variant variant, uint64_t source_size) {
    Result<FlashImage> image = FlashImage::Parse(std::move(flash), variant);
    if (!image) {
      std::fprintf(stderr, "make_fuzz_seeds: %s\n", image.error().text.c_str());
      std::exit(1);
    }
    return ExtractFiles(LoadedImage{kind, std::move(*image)}, name, source_size).back().bytes;
  };
  for (Variant variant : {kAppImage, kAllImage, kFullImage}) {
    const sample::ImageSpec spec = sample::DefaultImageSpec(variant);
    const std::vector<uint8_t> image = sample::BuildFlashImage(spec);
    const std::string label = testing::VariantLabel(variant);
    Seed("manifest", label + ".bin.json",
         extract(label + ".bin", ImageFileKind::kFlashImage, image, variant, image.size()));
    const std::vector<uint8_t> download =
        sample::BuildDownload(image, sample::DownloadSpecFor(spec));
    Result<std::vector<uint8_t>> converted =
        FlashBytesOf(ImageFile{ImageFileKind::kDownloadFile, variant, download});
    if (!converted) {
      std::fprintf(stderr, "make_fuzz_seeds: %s\n", converted.error().text.c_str());
      std::exit(1);
    }
    Seed("manifest", label + ".dld.json",
         extract(label + ".dld", ImageFileKind::kDownloadFile, std::move(*converted), variant,
                 download.size()));
  }

  const sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  std::vector<uint8_t> image = sample::BuildFlashImage(spec);
  const std::vector<uint8_t> sound =
      extract("all.bin", ImageFileKind::kFlashImage, image, kAllImage, image.size());
  Result<Manifest> manifest =
      ReadManifest(std::string_view(reinterpret_cast<const char*>(sound.data()), sound.size()));
  if (!manifest || manifest->unused.empty()) {
    std::fprintf(stderr, "make_fuzz_seeds: the sample's manifest lists no unused range\n");
    std::exit(1);
  }
  Result<std::vector<uint8_t>> key = CompressKeyBlock(sample::CodeLikeBytes(0x10000, 77));
  if (!key) {
    std::fprintf(stderr, "make_fuzz_seeds: %s\n", key.error().text.c_str());
    std::exit(1);
  }
  std::copy(key->begin(), key->end(), image.begin() + kAllLayout.key_region);
  image[manifest->unused.front().offset] = 0x5A;
  image[spec.manufacturer.regions.front().start - sample::WindowAddress(kAllImage, 0)] ^= 0x5A;
  Seed("manifest", "edited-all.bin.json",
       extract("edited-all.bin", ImageFileKind::kFlashImage, image, kAllImage, image.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds <corpus directory>\n");
    return 2;
  }
  root = argv[1];
  DownloadSeeds();
  ImageSeeds();
  CfgSeeds();
  ParameterFileSeeds();
  PictureSeeds();
  IniSeeds();
  StillSeeds();
  ManifestSeeds();
  return 0;
}
