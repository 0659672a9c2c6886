// Input files that go or shrink after they were chosen and before Start, or in the middle of
// opening, driven through the form model as the window drives it. The opened image is read
// whole when it is opened, so its going changes nothing: Start builds from what was read. A
// chosen database or key is read at Start: its going stops the build with a clear message and
// leaves nothing that could pass for a result. The build never puts zero bytes into the box.
#include <filesystem>

#include "download/download_file.h"
#include "image/flash_image.h"
#include "platform/file.h"
#include "platform/little_endian.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/form_driver.h"
#include "tests/support/test_images.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

class DisappearingInput : public ::testing::Test {
 protected:
  // A refused Start: one error naming the input, the window still opened, nothing left.
  void ExpectStopped(const std::vector<std::string>& messages, const std::string& name) {
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(name), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("can no longer be read whole"), std::string::npos) << messages[0];
    EXPECT_TRUE(driver_.form().SB_Start.enabled);
    EXPECT_FALSE(driver_.ui().banner_up);
    ExpectNoOutput();
  }
  // No output beside the image, nothing result-like in the job directories.
  void ExpectNoOutput() {
    EXPECT_FALSE(fs::exists(driver_.Output("box_Merge.bin")));
    EXPECT_FALSE(fs::exists(driver_.Output("box_Merge.dld")));
    EXPECT_EQ(ResultLikeFiles(driver_.job_directories()), std::vector<std::string>{});
  }
  // A sound Start of the opened image with nothing chosen: both files made, the merged image
  // is the image, and the download file converts back into it.
  void ExpectBuiltFromTheImage(const std::vector<std::string>& messages, Variant variant) {
    ASSERT_EQ(messages, std::vector<std::string>{
                            "Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]"});
    EXPECT_TRUE(Merged() == SampleImage(variant));
    std::vector<uint8_t> converted;
    ASSERT_TRUE(
        ConvertDownloadBytes(ReadWholeFile(driver_.Output("box_Merge.dld")), variant, converted));
    EXPECT_TRUE(converted == SampleImage(variant));
    // Taken away, so that the next build writes its own (it would not replace them unasked).
    fs::remove(driver_.Output("box_Merge.bin"));
    fs::remove(driver_.Output("box_Merge.dld"));
  }
  std::vector<uint8_t> Merged() { return ReadWholeFile(driver_.Output("box_Merge.bin")); }

  FormDriver driver_;
};

TEST_F(DisappearingInput, TheOpenedImageGoneOrShrunkBeforeStartIsBuiltFromWhatWasRead) {
  // The image was read whole when it was opened: Start needs nothing more of the file, and
  // the result is the image as it was (carried ranges included).
  for (Variant variant : {kAppImage, kAllImage, kFullImage}) {
    SCOPED_TRACE(VariantLabel(variant));
    std::string image = driver_.WriteInput("box.bin", SampleImage(variant));
    driver_.Open(image);
    fs::remove(image);
    ExpectBuiltFromTheImage(driver_.Start(), variant);

    WriteWholeFile(image, SampleImage(variant));
    driver_.Open(image);
    fs::resize_file(image, LayoutOf(variant)->file_size / 2);
    ExpectBuiltFromTheImage(driver_.Start(), variant);
  }
}

TEST_F(DisappearingInput, TheDatabaseOrKeyGoneOrShrunkBeforeStart) {
  std::string image = driver_.WriteInput("box.bin", SampleImage(kAllImage));
  std::vector<uint8_t> key = sample::RandomBytes(0x10000, 21);
  std::vector<uint8_t> compressed_key(0x10000, 0x00);
  WriteLe32(&compressed_key[80], 1);  // to be compressed at Start
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool key;
    bool shrink;
  };
  const Case cases[] = {
      {"db.bin", sample::CodeLikeBytes(0x40000, 22), false, false},
      {"db.bin", sample::CodeLikeBytes(0x40000, 22), false, true},
      {"key.bin", key, true, false},
      {"key.bin", key, true, true},
      {"flagged.bin", compressed_key, true, false},
      // A flagged key cut short after its choice: compressed from what is left it would put a
      // key block of erased bytes into the box.
      {"flagged.bin", compressed_key, true, true},
  };
  TFormMain& form = driver_.form();
  for (const Case& item : cases) {
    SCOPED_TRACE(std::string(item.name) + (item.shrink ? " shrunk" : " gone"));
    driver_.Open(image);
    std::string path = driver_.WriteInput(item.name, item.bytes);
    ASSERT_EQ(driver_.Choose(item.key ? form.SB_Key : form.SB_Default, path),
              std::vector<std::string>{});
    if (item.shrink) {
      fs::resize_file(path, 100);
    } else {
      fs::remove(path);
    }
    ExpectStopped(driver_.Start(), item.name);
    EXPECT_TRUE(driver_.job().Chosen(item.key ? SourceKind::kKey : SourceKind::kDefaultDatabase));
  }
}

TEST_F(DisappearingInput, APictureGoneAfterItsChoiceIsAlreadyTheLogoPicture) {
  std::string image = driver_.WriteInput("box.bin", SampleImage(kAppImage));
  driver_.Open(image);
  std::string picture = driver_.WritePicture("logo.bmp", 720, 576);
  ASSERT_EQ(driver_.Choose(driver_.form().SB_Boot, picture), std::vector<std::string>{});
  fs::remove(picture);
  ASSERT_EQ(driver_.Start().size(), 1u);
  Result<FlashImage> merged = FlashImage::Parse(Merged(), kAppImage);
  ASSERT_TRUE(merged) << merged.error().text;
  // The boot partition (entry 3) starts with a sequence header.
  ASSERT_GE(merged->Partition(3).size(), 4u);
  EXPECT_EQ(ReadLe32(merged->Partition(3).data()), 0xB3010000u);
}

TEST_F(DisappearingInput, TheImageGoneInTheMiddleOfOpeningIsBuiltFromWhatWasRead) {
  // A flash image is read whole before anything else of the open: its going in the middle of
  // opening stops neither the open nor Start, which builds from what was read.
  std::string image = driver_.WriteInput("box.bin", SampleImage(kAllImage));
  driver_.ui().on_pending_events = [&] { fs::remove(image); };
  driver_.Open(image);
  driver_.ui().on_pending_events = nullptr;
  EXPECT_EQ(driver_.ui().TakeMessages(), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(image));
  EXPECT_TRUE(driver_.form().SB_Start.enabled);
  EXPECT_TRUE(driver_.form().SB_Boot.enabled);
  ExpectNoOutput();
  ExpectBuiltFromTheImage(driver_.Start(), kAllImage);

  // A download file was converted whole before anything is read from the image.
  std::string download = driver_.WriteInput("box.dld", SampleDownload(kAllImage));
  driver_.ui().on_pending_events = [&] { fs::remove(download); };
  driver_.Open(download);
  driver_.ui().on_pending_events = nullptr;
  EXPECT_TRUE(driver_.form().SB_Start.enabled);
  ASSERT_EQ(driver_.Start(),
            std::vector<std::string>{"Quorvanex: Succeed!  [ Create File: box_Merge.dld]"});
  std::vector<uint8_t> converted;
  ASSERT_TRUE(
      ConvertDownloadBytes(ReadWholeFile(driver_.Output("box_Merge.dld")), kAllImage, converted));
  EXPECT_TRUE(converted == SampleImage(kAllImage));
}

}  // namespace
}  // namespace qv::testing
