// `quorvane extract`, `pack` and `diff`, run as a user runs them: an extraction packs back to
// its image byte for byte; changed files pack to what `quorvane build` makes of the same
// changes; diff names what a build changed; and every refusal leaves nothing written.
#include <gtest/gtest.h>
#include <png.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "app/manifest.h"
#include "image/variant.h"
#include "platform/bitmap.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "platform/sha256.h"
#include "tests/support/run_program.h"
#include "tests/support/still_referee.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"

namespace qv::testing {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

// The directory the tests share for the sample images and their extractions.
const TempDir& Shared() {
  static TempDir directory;
  return directory;
}

ProgramRun Quorvane(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), ProgramPath("quorvane"));
  return RunProgram(arguments, Shared().path());
}

ProgramRun Extract(const std::string& image, const std::string& directory) {
  return Quorvane({"extract", image, directory});
}

ProgramRun Pack(const std::string& directory, const std::string& out,
                std::vector<std::string> options = {}) {
  options.insert(options.begin(), {"pack", directory, out});
  return Quorvane(options);
}

std::string Text(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  return {bytes.begin(), bytes.end()};
}

void WriteText(const std::string& path, const std::string& text) {
  WriteBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// The image `quorvane sample` writes of a variant, as a flash image (.bin) or download file.
const std::string& Sample(Variant variant, const std::string& extension) {
  static std::map<std::string, std::string> made;
  const std::string name = VariantLabel(variant) + extension;
  auto [path, added] = made.try_emplace(name, Shared().File(name));
  if (added) {
    const ProgramRun run = Quorvane({"sample", path->second, "--variant", VariantLabel(variant)});
    EXPECT_EQ(run.exit_status, 0) << run.errors;
  }
  return path->second;
}

// The extraction of a sample image, made once; tests change copies of it.
const std::string& Extracted(Variant variant, const std::string& extension) {
  static std::map<std::string, std::string> made;
  const std::string& image = Sample(variant, extension);
  auto [path, added] = made.try_emplace(image, image + ".extracted");
  if (added) {
    const ProgramRun run = Extract(image, path->second);
    EXPECT_EQ(run.exit_status, 0) << run.errors;
  }
  return path->second;
}

std::string CopyOf(const std::string& extraction, const TempDir& work, const std::string& name) {
  fs::copy(extraction, work.File(name), fs::copy_options::recursive);
  return work.File(name);
}

json ManifestOf(const std::string& extraction) {
  return json::parse(Text(extraction + "/manifest.json"));
}

// `quorvane build` of `image` into `directory`: its output of the image's own kind.
std::string Build(const std::string& image, std::vector<std::string> options,
                  const std::string& directory) {
  options.insert(options.begin(), {"build", image, "--output-dir", directory});
  const ProgramRun run = Quorvane(options);
  EXPECT_EQ(run.exit_status, 0) << run.errors;
  const fs::path path(image);
  return directory + "/" + path.stem().string() + "_Merge" + path.extension().string();
}

::testing::AssertionResult SameBytes(const std::string& made, const std::string& expected) {
  if (!FileExists(made)) return ::testing::AssertionFailure() << made << " was not written";
  const std::vector<uint8_t> a = ReadBytes(made), b = ReadBytes(expected);
  if (a == b) return ::testing::AssertionSuccess();
  const auto [at, unused] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  return ::testing::AssertionFailure()
         << made << " (" << a.size() << " bytes) differs from " << expected << " (" << b.size()
         << " bytes) at byte " << (at - a.begin());
}

// Sets the httpManualAddr line of an extracted httpcfg.ini, as a text editor would.
void SetManualAddress(const std::string& ini, const std::string& address) {
  std::string text = Text(ini);
  const size_t value = text.find("httpManualAddr=");
  ASSERT_NE(value, std::string::npos) << text;
  const size_t start = value + std::strlen("httpManualAddr=");
  text.replace(start, text.find("\r\n", start) - start, address);
  WriteText(ini, text);
}

std::set<std::string> Entries(const std::string& directory) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(directory))
    names.insert(entry.path().filename().string());
  return names;
}

// ---------------------------------------------------------------------------------------------
// Every variant, from a flash image and from a download file.

class Archive : public ::testing::TestWithParam<std::tuple<Variant, const char*>> {
 protected:
  Variant variant() const { return std::get<0>(GetParam()); }
  std::string extension() const { return std::get<1>(GetParam()); }
  const std::string& image() const { return Sample(variant(), extension()); }
  const std::string& extraction() const { return Extracted(variant(), extension()); }
  // A boot logo picture for a build: a bitmap beside a flash image, a JPEG beside a download.
  std::string WriteBootPicture(const TempDir& work) const {
    const Bitmap picture = MakePicture(PictureKind::kPhoto, 720, 576, 7);
    const std::string path = work.File(extension() == ".bin" ? "boot.bmp" : "boot.jpg");
    if (extension() == ".bin") {
      SaveBitmap(picture, path);
    } else {
      WriteJpeg(picture, path);
    }
    return path;
  }
};

TEST_P(Archive, AnUnchangedExtractionPacksToTheImageByteForByte) {
  TempDir work;
  const std::string out = work.File("packed" + extension());
  const ProgramRun pack = Pack(extraction(), out);
  ASSERT_EQ(pack.exit_status, 0) << pack.errors;
  EXPECT_TRUE(SameBytes(out, image()));
  EXPECT_EQ(Quorvane({"diff", image(), out}).exit_status, 0);
  // The flash image and the download file of one sample hold the same image.
  const std::string other = extension() == ".bin" ? ".dld" : ".bin";
  EXPECT_EQ(Quorvane({"diff", image(), Sample(variant(), other)}).exit_status, 0);
}

// A new boot still (the one a build made), model id and httpManualAddr, and the picture itself
// instead of the still: both pack to what the build wrote.
TEST_P(Archive, ChangedLogoModelIdAndHttpCfgPackAsBuildMakesThem) {
  TempDir work;
  const std::string picture = WriteBootPicture(work);
  const std::string built = Build(
      image(),
      {"--boot", picture, "--model-id", "NEWID-9", "--http-manual-addr", "http://x.example/m/"},
      work.File("built"));
  ASSERT_EQ(Extract(built, work.File("built-extracted")).exit_status, 0);
  for (const bool as_picture : {false, true}) {
    SCOPED_TRACE(as_picture ? "picture" : "still");
    const std::string dir = CopyOf(extraction(), work, as_picture ? "picture" : "still");
    if (as_picture) {
      fs::copy_file(picture, dir + "/" + fs::path(picture).filename().string());
    } else {
      fs::copy_file(work.File("built-extracted/boot.m2v"), dir + "/boot.m2v",
                    fs::copy_options::overwrite_existing);
    }
    WriteText(dir + "/modelid", "NEWID-9\n");
    SetManualAddress(dir + "/httpcfg.ini", "http://x.example/m/");
    const std::string out = dir + "-packed" + extension();
    const ProgramRun pack = Pack(dir, out);
    EXPECT_EQ(pack.exit_status, 0) << pack.errors;
    EXPECT_TRUE(SameBytes(out, built));
  }
}

// The partitions a build changed and the model id, nothing else: the region records of check
// flag 1 are compared by whether their CRCs match (a build makes them anew), and the one that
// covers the changed directory matches in both.
TEST_P(Archive, DiffOfABuildNamesItsBootLogoAndModelId) {
  TempDir work;
  const std::string built = Build(
      image(), {"--boot", WriteBootPicture(work), "--model-id", "NEWID-9"}, work.File("built"));
  const ProgramRun diff = Quorvane({"diff", image(), built, "--json"});
  EXPECT_EQ(diff.exit_status, 1) << diff.errors;
  const json document = json::parse(diff.output, nullptr, false);
  ASSERT_FALSE(document.is_discarded()) << diff.output;
  EXPECT_EQ(document["equal"], false);
  EXPECT_EQ(document["variant"], static_cast<int>(variant()));
  std::vector<std::string> changed;
  for (const json& partition : document["partitions"]) {
    if (partition["change"] != "unchanged") changed.push_back(partition["name"]);
  }
  EXPECT_EQ(changed, (std::vector<std::string>{"boot", "modelid"}));
  EXPECT_EQ(document["partitions"].size(), ManifestOf(extraction())["directory"]["entries"].size());
  const std::string old_id = Text(extraction() + "/modelid");
  EXPECT_EQ(document["texts"],
            json::array({{{"what", "model id"}, {"old", old_id}, {"new", "NEWID-9"}}}));
  EXPECT_EQ(document["regions"], json::array());
  EXPECT_EQ(document["region_count_differs"], false);

  const ProgramRun text = Quorvane({"diff", image(), built});
  EXPECT_EQ(text.exit_status, 1);
  EXPECT_NE(text.output.find("partition boot: changed"), std::string::npos) << text.output;
  EXPECT_NE(text.output.find("model id: \"" + old_id + "\" -> \"NEWID-9\""), std::string::npos)
      << text.output;
}

INSTANTIATE_TEST_SUITE_P(VariantsAndKinds, Archive,
                         ::testing::Combine(::testing::Values(kAppImage, kAllImage, kFullImage),
                                            ::testing::Values(".bin", ".dld")),
                         [](const auto& info) {
                           return VariantLabel(std::get<0>(info.param)) +
                                  (std::get<1>(info.param) + 1);
                         });

TEST(Diff, ImagesThatCannotBeComparedExitWithTwo) {
  EXPECT_EQ(Quorvane({"diff", Sample(kAllImage, ".bin"), Sample(kFullImage, ".bin")}).exit_status,
            2);
  EXPECT_EQ(
      Quorvane({"diff", Sample(kAllImage, ".bin"), Extracted(kAllImage, ".bin") + "/manifest.json"})
          .exit_status,
      2);
}

// ---------------------------------------------------------------------------------------------
// The database and the key of the variants that hold them.

class DatabaseAndKey : public ::testing::TestWithParam<Variant> {};

std::vector<uint8_t> KeyData(uint32_t seed, uint32_t flag) {
  std::vector<uint8_t> key = sample::CodeLikeBytes(0x10000, seed);
  WriteLe32(&key[80], flag);  // 1: the key is stored as a compressed key block
  return key;
}

TEST_P(DatabaseAndKey, PackAsBuildMakesThem) {
  TempDir work;
  const std::string& image = Sample(GetParam(), ".bin");
  const std::string& extraction = Extracted(GetParam(), ".bin");
  // The sample's key is stored as it is: its key block itself is the file to change.
  ASSERT_EQ(ManifestOf(extraction)["key_block"]["compressed"], false);
  const std::string database = work.File("database.bin"), key = work.File("key.bin");
  WriteBytes(database, sample::CodeLikeBytes(0x40000, 45));
  WriteBytes(key, KeyData(44, 0x12345678));
  const std::string built =
      Build(image, {"--default-db", database, "--key", key}, work.File("built"));
  const std::string dir = CopyOf(extraction, work, "stored");
  fs::copy_file(database, dir + "/default-database.bin", fs::copy_options::overwrite_existing);
  fs::copy_file(key, dir + "/key-block.bin", fs::copy_options::overwrite_existing);
  ProgramRun pack = Pack(dir, work.File("stored.bin"));
  EXPECT_EQ(pack.exit_status, 0) << pack.errors;
  EXPECT_TRUE(SameBytes(work.File("stored.bin"), built));
  // What lies outside the partitions differs too.
  const ProgramRun diff = Quorvane({"diff", image, work.File("stored.bin"), "--json"});
  EXPECT_EQ(diff.exit_status, 1) << diff.errors;
  std::set<std::string> areas;
  const json difference = json::parse(diff.output);
  for (const json& area : difference["areas"])
    areas.insert(area["name"].get<std::string>());
  EXPECT_EQ(areas, (std::set<std::string>{"default database", "key block"})) << diff.output;

  // A compressed key block: its key data is key.bin, which changes the key.
  const std::string compressed_key = work.File("compressed-key.bin");
  WriteBytes(compressed_key, KeyData(46, 1));
  const std::string compressed = Build(image, {"--key", compressed_key}, work.File("compressed"));
  ASSERT_EQ(Extract(compressed, work.File("c")).exit_status, 0);
  ASSERT_EQ(ManifestOf(work.File("c"))["key_block"]["compressed"], true);
  EXPECT_EQ(ReadBytes(work.File("c/key.bin")), ReadBytes(compressed_key));
  const std::string block_changed = CopyOf(work.File("c"), work, "c-block");
  WriteBytes(work.File("new-key.bin"), KeyData(47, 1));
  const std::string rebuilt =
      Build(compressed, {"--key", work.File("new-key.bin")}, work.File("rebuilt"));
  fs::copy_file(work.File("new-key.bin"), work.File("c/key.bin"),
                fs::copy_options::overwrite_existing);
  pack = Pack(work.File("c"), work.File("c.bin"));
  EXPECT_EQ(pack.exit_status, 0) << pack.errors;
  EXPECT_TRUE(SameBytes(work.File("c.bin"), rebuilt));

  // Its key block itself is only the compressed form of key.bin.
  fs::copy_file(key, block_changed + "/key-block.bin", fs::copy_options::overwrite_existing);
  pack = Pack(block_changed, work.File("c-block.bin"));
  EXPECT_EQ(pack.exit_status, 1);
  EXPECT_NE(pack.errors.find("key-block.bin changed"), std::string::npos) << pack.errors;
  EXPECT_NE(pack.errors.find("key.bin"), std::string::npos) << pack.errors;
  EXPECT_FALSE(FileExists(work.File("c-block.bin")));
}

INSTANTIATE_TEST_SUITE_P(Variants, DatabaseAndKey, ::testing::Values(kAllImage, kFullImage),
                         VariantParamName());

// ---------------------------------------------------------------------------------------------
// Extraction.

TEST(Extract, RefusesNamesInTheWayAndListsTheDigestOfEveryFile) {
  TempDir dir;
  WriteText(dir.File("modelid"), "mine\n");
  const std::string& image = Sample(kFullImage, ".bin");
  const ProgramRun refused = Extract(image, dir.path());
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_NE(refused.errors.find("modelid"), std::string::npos) << refused.errors;
  EXPECT_EQ(Entries(dir.path()), std::set<std::string>{"modelid"});
  EXPECT_EQ(Text(dir.File("modelid")), "mine\n");

  const ProgramRun forced = Quorvane({"extract", image, dir.path(), "--force"});
  ASSERT_EQ(forced.exit_status, 0) << forced.errors;
  EXPECT_NE(Text(dir.File("modelid")), "mine\n");
  const json files = ManifestOf(dir.path())["files"];
  std::set<std::string> listed = {"manifest.json"};
  for (const auto& [name, digest] : files.items()) {
    listed.insert(name);
    EXPECT_EQ(Sha256Hex(ReadBytes(dir.File(name))), digest) << name;
  }
  EXPECT_EQ(Entries(dir.path()), listed);
  for (const char* name : {"boot.png", "boot-area.bin", "directory.bin", "manufacturer-block.bin",
                           "manufacturer.cfg", "default-database.bin", "key-block.bin"})
    EXPECT_TRUE(listed.contains(name)) << name;
}

// The pixels of a PNG file, red, green and blue each, top row first, read with libpng.
std::vector<uint8_t> ReadPng(const std::string& path, int& width, int& height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  std::vector<uint8_t> rgb;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return rgb;
  image.format = PNG_FORMAT_RGB;
  rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return {};
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return rgb;
}

// Each logo's PNG is its still as ffmpeg decodes it. The tool turns decoded Y'CbCr (BT.601,
// as the sample's stills say) into R'G'B' rounded to whole steps; where no component was
// clipped (none is 0 or 255), Y' taken back from those colours lies within half a step of full
// range (0.43 of a studio-range step) of the decoder's own Y', so rounds to it. Two decoders'
// IDCTs round a few samples the other way: Y' is ffmpeg's within one step.
TEST(Extract, LogoPicturesAreTheStillsAsFfmpegDecodesThem) {
  if (RunProgram({"ffmpeg", "-version"}).exit_status != 0) GTEST_SKIP() << "no ffmpeg";
  const std::string& extraction = Extracted(kAllImage, ".bin");
  TempDir scratch;
  for (const std::string logo : {"boot", "menu", "radio"}) {
    SCOPED_TRACE(logo);
    int width = 0, height = 0;
    const std::vector<uint8_t> rgb = ReadPng(extraction + "/" + logo + ".png", width, height);
    ASSERT_EQ(width, 720);
    ASSERT_EQ(height, 576);
    Result<DecodedStill> ffmpeg =
        DecodeWithFfmpeg(extraction + "/" + logo + ".m2v", width, height, scratch.path());
    ASSERT_TRUE(ffmpeg) << ffmpeg.error().text;
    int most = 0;
    size_t compared = 0;
    for (size_t at = 0; at < ffmpeg->luma.size(); ++at) {
      const uint8_t* pixel = &rgb[3 * at];
      if (std::any_of(pixel, pixel + 3, [](uint8_t c) { return c == 0 || c == 255; })) continue;
      const double luma = 0.299 * pixel[0] + 0.587 * pixel[1] + 0.114 * pixel[2];
      const long back = std::lround(16 + luma * 219 / 255);
      most = std::max(most, static_cast<int>(std::abs(back - ffmpeg->luma[at])));
      ++compared;
    }
    EXPECT_LE(most, 1);
    EXPECT_GT(compared, ffmpeg->luma.size() / 2);
  }
}

// ---------------------------------------------------------------------------------------------
// What pack refuses: exit status 1, a message naming what is wrong, and nothing written.

TEST(Pack, RefusesWhatItCannotPackAndWritesNothing) {
  struct Refusal {
    std::string what;
    std::function<void(const std::string& dir, const std::string& out)> change;
    std::string named;               // in the message
    std::string out = "packed.bin";  // in the test's directory; "DIR/" in the extraction's
    std::vector<std::string> options = {};
    std::string source = ".bin";  // the sample extracted
  };
  const auto write = [](const std::string& name, const std::string& text) {
    return [=](const std::string& dir, const std::string&) { WriteText(dir + "/" + name, text); };
  };
  const std::vector<Refusal> refusals = {
      {"a partition pack does not change", write("dvb_cfg.bin", "changed"), "dvb_cfg.bin"},
      {"a logo's PNG", write("boot.png", "changed"), "boot.png"},
      {"a picture and a still for one logo",
       [](const std::string& dir, const std::string&) {
         SaveBitmap(MakePicture(PictureKind::kFlatLogo, 720, 576, 3), dir + "/boot.bmp");
         fs::copy_file(dir + "/menu.m2v", dir + "/boot.m2v", fs::copy_options::overwrite_existing);
       },
       "both boot.bmp and boot.m2v"},
      {"a still that does not decode", write("boot.m2v", "not a still"), "boot still"},
      {"a model id of two lines", write("modelid", "NEW\nID\n"), "modelid"},
      {"a model id longer than its box", write("modelid", std::string(21, 'M')), "modelid"},
      {"an HTTP setting longer than its box",
       [](const std::string& dir, const std::string&) {
         SetManualAddress(dir + "/httpcfg.ini", "http://" + std::string(249, 'u'));
       },
       "httpManualAddr 256 characters"},
      {"a missing file",
       [](const std::string& dir, const std::string&) { RemoveFile(dir + "/fw_audio.bin"); },
       "fw_audio.bin"},
      {"a manifest that is not JSON", write("manifest.json", "{\"format\":"), "manifest.json"},
      {"no manifest",
       [](const std::string& dir, const std::string&) { RemoveFile(dir + "/manifest.json"); },
       "manifest.json"},
      {"a flash image packed as a download file", nullptr, ".dld", "packed.dld"},
      {"a download file packed as a flash image", nullptr, ".dld", "packed.bin", {}, ".dld"},
      {"OUT a file of the extraction", nullptr, "appcode.bin", "DIR/appcode.bin", {"--force"}},
      {"OUT there already",
       [](const std::string&, const std::string& out) { WriteText(out, "mine"); }, "packed.bin"},
      {"OUT there already, for a changed extraction",
       [](const std::string& dir, const std::string& out) {
         WriteText(out, "mine");
         WriteText(dir + "/modelid", "QV-OTHER");
       },
       "packed.bin"},
  };
  for (const Refusal& refusal : refusals) {
    SCOPED_TRACE(refusal.what);
    TempDir work;
    const std::string dir = CopyOf(Extracted(kAllImage, refusal.source), work, "x");
    const std::string out =
        refusal.out.starts_with("DIR/") ? dir + refusal.out.substr(3) : work.File(refusal.out);
    if (refusal.change) refusal.change(dir, out);
    const std::set<std::string> before = Entries(work.path()), extracted = Entries(dir);
    const auto digest = [&] { return FileExists(out) ? Sha256Hex(ReadBytes(out)) : ""; };
    const std::string old_out = digest();
    const ProgramRun pack = Pack(dir, out, refusal.options);
    EXPECT_EQ(pack.exit_status, 1) << pack.errors;
    EXPECT_NE(pack.errors.find(refusal.named), std::string::npos) << pack.errors;
    EXPECT_EQ(Entries(work.path()), before);
    EXPECT_EQ(Entries(dir), extracted);
    EXPECT_EQ(digest(), old_out);
  }

  // Told to, pack replaces OUT.
  TempDir work;
  WriteText(work.File("packed.bin"), "mine");
  EXPECT_EQ(Pack(Extracted(kAllImage, ".bin"), work.File("packed.bin"), {"--force"}).exit_status,
            0);
  EXPECT_TRUE(SameBytes(work.File("packed.bin"), Sample(kAllImage, ".bin")));
}

// An image whose region CRC does not match its bytes: extracted, packed back as it is, and
// packed with a change only when allowed, then as a build allowed to makes it.
TEST(Pack, ADamagedImagePacksChangedOnlyWhenAllowed) {
  TempDir work;
  std::vector<uint8_t> bytes = ReadBytes(Sample(kFullImage, ".bin"));
  // In appcode, the first partition, which region 0 checks.
  bytes[LayoutOf(kFullImage)->area_base + 0x1234] ^= 0x5A;
  const std::string damaged = work.File("damaged.bin");
  WriteBytes(damaged, bytes);
  const std::string dir = work.File("x");
  ASSERT_EQ(Extract(damaged, dir).exit_status, 0);
  EXPECT_EQ(ManifestOf(dir)["manufacturer"]["damage"].size(), 1u);
  ProgramRun pack = Pack(dir, work.File("same.bin"));
  EXPECT_EQ(pack.exit_status, 0) << pack.errors;
  EXPECT_TRUE(SameBytes(work.File("same.bin"), damaged));

  WriteText(dir + "/modelid", "QV-DAMAGED\n");
  pack = Pack(dir, work.File("changed.bin"));
  EXPECT_EQ(pack.exit_status, 1);
  EXPECT_NE(pack.errors.find("checksums do not match"), std::string::npos) << pack.errors;
  EXPECT_FALSE(FileExists(work.File("changed.bin")));
  pack = Pack(dir, work.File("changed.bin"), {"--allow-bad-checksums"});
  EXPECT_EQ(pack.exit_status, 0) << pack.errors;
  EXPECT_TRUE(SameBytes(
      work.File("changed.bin"),
      Build(damaged, {"--model-id", "QV-DAMAGED", "--allow-bad-checksums"}, work.File("built"))));
}

// ---------------------------------------------------------------------------------------------
// A manifest that lies: refused, saying what is wrong.

TEST(ReadManifestTest, RefusesHostileManifestsSayingWhatIsWrong) {
  struct Hostile {
    std::string what;
    std::function<void(json&)> change;
    std::string said;
    Variant variant = kAllImage;
  };
  const auto set = [](std::string pointer, json value) {
    return [=](json& manifest) { manifest[json::json_pointer(pointer)] = value; };
  };
  const uint64_t far = ~uint64_t{0} - 15;
  const std::vector<Hostile> cases = {
      {"a file in a directory", set("/directory/entries/0/file", "sub/appcode.bin"),
       "\"sub/appcode.bin\" is not a plain file name"},
      {"the parent directory", set("/default_database/file", ".."),
       "\"..\" is not a plain file name"},
      {"an unlisted file", [](json& m) { m["files"].erase("dvb_cfg.bin"); },
       "dvb_cfg.bin is not listed"},
      {"a carried range past the image", set("/carried/0/offset", 8060928), "reaches past"},
      {"a partition longer than the image", set("/directory/entries/8/length", 0xFFFFFFFFu),
       "reaches past"},
      {"a partition offset that wraps round", set("/directory/entries/0/offset", far),
       "reaches past", kFullImage},
      {"an unused range past the image", set("/unused/ranges/0/length", far), "reaches past"},
      {"no variant", set("/variant", 4), "manifest.variant is not 5, 6 or 7"},
      {"another variant", set("/variant", 7), "does not fit variant 7"},
      {"another format", set("/format", "quorvane-extract 2"), "manifest.format"},
      {"a digest that is no SHA-256", set("/files/modelid", "0123"), "modelid is not a SHA-256"},
      {"a negative offset", set("/carried/0/offset", -1), "carried.offset"},
  };
  for (const Hostile& hostile : cases) {
    SCOPED_TRACE(hostile.what);
    json manifest = ManifestOf(Extracted(hostile.variant, ".bin"));
    ASSERT_TRUE(ReadManifest(manifest.dump()));
    hostile.change(manifest);
    const Result<Manifest> read = ReadManifest(manifest.dump());
    ASSERT_FALSE(read);
    EXPECT_NE(read.error().text.find(hostile.said), std::string::npos) << read.error().text;
  }
  const Result<Manifest> text = ReadManifest("{\"format\": \"quorvane-extract 1\"");
  ASSERT_FALSE(text);
  EXPECT_EQ(text.error().text, "manifest.json is not JSON");
}

}  // namespace
}  // namespace qv::testing
