// File names that a command interpreter would take apart or run: blanks, quotes, ";", "&",
// "|", "$( )", back quotes, a leading "-" and letters beyond ASCII, as the image, the logo
// picture, the key and the working directory. The build must succeed with every one, and no
// canary file that a run command would make may ever appear.
#include <filesystem>

#include "download/download_file.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

const char* const kNames[] = {
    "blank name",
    "semi;touch CANARY1.bin;x",
    "amp&touch CANARY2.bin&x",
    "dollar$(touch CANARY3.bin)x",
    "back`touch CANARY4.bin`x",
    "pipe|touch CANARY5.bin|x",
    "quotes'\"x\"'",
    "-dash",
    "Ünïcødé логотип 標誌",
};

std::vector<std::string> Canaries(const std::string& directory) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : fs::recursive_directory_iterator(directory, error)) {
    if (entry.path().filename().string().starts_with("CANARY"))
      found.push_back(entry.path().string());
  }
  return found;
}

class HostileNames : public Hostile {};

TEST_F(HostileNames, AsImagePictureKeyAndWorkingDirectory) {
  for (size_t i = 0; i < std::size(kNames); ++i) {
    const std::string name = kNames[i];
    SCOPED_TRACE(name);
    std::string image = WriteInput(name + ".bin", SampleImage(kAppImage));
    std::string picture = Input(name + (i % 2 ? ".jpg" : ".bmp"));
    Bitmap logo = MakePicture(PictureKind::kFlatLogo, 720, 576, static_cast<uint32_t>(i));
    if (i % 2) {
      WriteJpeg(logo, picture);
    } else {
      SaveBitmap(logo, picture);
    }
    watched_.Watch(picture);
    std::string key =
        WriteInput(name + " key.bin", sample::RandomBytes(0x10000, static_cast<uint32_t>(i)));
    const std::string work = Input("work " + name);

    HostileRun run = RunHostile("quorvane",
                                {"build", image, "--workdir", work, "--boot", picture, "--key", key,
                                 "--model-id", name.substr(0, 20)},
                                Work());
    ASSERT_TRUE(Succeeded(run));
    std::vector<uint8_t> merged = ReadWholeFile(work + "/" + name + "_Merge.bin");
    std::vector<uint8_t> converted;
    ASSERT_TRUE(ConvertDownloadBytes(ReadWholeFile(work + "/" + name + "_Merge.dld"), kAppImage,
                                     converted));
    EXPECT_TRUE(converted == std::vector<uint8_t>(merged.begin(), merged.begin() + 0x660000));
    // The boot partition (entry 3) holds the new still, the key region the key.
    uint32_t boot = ReadLe32(&merged[0x65E000 + 3 * 64]);
    EXPECT_EQ(ReadLe32(&merged[boot]), 0xB3010000u);
    EXPECT_TRUE(std::equal(merged.begin() + 0x6C0000, merged.begin() + 0x6D0000,
                           ReadWholeFile(key).begin()));

    EXPECT_TRUE(
        Succeeded(RunHostile("quorvane", {"info", work + "/" + name + "_Merge.dld"}, work)));
  }
  EXPECT_EQ(Canaries(inputs_.path()), std::vector<std::string>{});
  EXPECT_EQ(Canaries(work_.path()), std::vector<std::string>{});
  EXPECT_EQ(Canaries(fs::current_path().string()), std::vector<std::string>{});
  EXPECT_TRUE(watched_.Unchanged());
}

TEST_F(HostileNames, AsADownloadFileAndADatabase) {
  for (size_t i = 0; i < std::size(kNames); i += 2) {
    const std::string name = kNames[i];
    SCOPED_TRACE(name);
    std::string image = WriteInput(name + ".dld", SampleDownload(kAllImage));
    std::string database =
        WriteInput(name + " db.bin", sample::CodeLikeBytes(0x40000, static_cast<uint32_t>(i)));
    ASSERT_TRUE(Succeeded(Build(image, {"--default-db", database})));
    std::vector<uint8_t> converted;
    ASSERT_TRUE(ConvertDownloadBytes(ReadWholeFile(Work() + "/" + name + "_Merge.dld"), kAllImage,
                                     converted));
    EXPECT_TRUE(std::equal(converted.begin() + 0x6D0000, converted.begin() + 0x710000,
                           ReadWholeFile(database).begin()));
  }
  EXPECT_EQ(Canaries(inputs_.path()), std::vector<std::string>{});
  EXPECT_EQ(Canaries(work_.path()), std::vector<std::string>{});
  EXPECT_TRUE(watched_.Unchanged());
}

TEST_F(HostileNames, NamesAsLongAsANameMayBe) {
  // The outputs' names still fit (250 characters), the converter's temporary name beside them
  // would not unless it is cut short.
  const std::string fits(240, 'n');
  std::string image = WriteInput(fits + ".bin", SampleImage(kAppImage));
  ASSERT_TRUE(Succeeded(Build(image)));
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(ReadWholeFile(Work() + "/" + fits + "_Merge.dld"), kAppImage,
                                   converted));
  EXPECT_TRUE(converted == SampleImage(kAppImage));
  fs::remove(Work() + "/" + fits + "_Merge.bin");
  fs::remove(Work() + "/" + fits + "_Merge.dld");

  // An image name that leaves no room for "_Merge.bin".
  const std::string too_long(250, 'n');
  EXPECT_TRUE(
      Refused(Build(WriteInput(too_long + ".bin", SampleImage(kAppImage))), "Invalid filename"));
  ExpectNoResult();
}

}  // namespace
}  // namespace qv::testing
