// Input files that go or shrink after they were chosen and before Start, or in the middle of
// opening, driven through the form model as the window drives it. The build stops with a clear
// message and leaves nothing that could pass for a result (or, where everything it needs was
// read already, gives a correct result); it never puts zero bytes into the box.
#include <filesystem>

#include "app/form_main.h"
#include "download/download_file.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/fake_ui.h"
#include "tests/support/image_builder.h"
#include "tests/support/test_pictures.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

class DisappearingInput : public ::testing::Test {
 protected:
  DisappearingInput() : job_(std::make_unique<JobState>()) {
    form_ = std::make_unique<TFormMain>(ui_, *job_, FormOptions{work_.path() + "/", "", 60000});
    form_->FormCreate(nullptr);
  }

  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = files_.File(name);
    WriteWholeFile(path, bytes);
    return path;
  }
  void Open(const std::string& path) {
    ui_.answers.push_back(path);
    form_->SB_OpenFileClick(&form_->SB_OpenFile);
  }
  void Choose(Button& button, const std::string& path) {
    ui_.answers.push_back(path);
    if (&button == &form_->SB_Default || &button == &form_->SB_Key) {
      form_->SB_DefaultClick(&button);
    } else {
      form_->SB_BootClick(&button);
    }
    ASSERT_TRUE(ui_.TakeMessages().empty());
  }
  std::vector<std::string> Start() {
    form_->SB_StartClick(&form_->SB_Start);
    return ui_.TakeMessages();
  }
  // A refused Start: one error naming the input, the window still opened, nothing left.
  void ExpectStopped(const std::vector<std::string>& messages, const std::string& name) {
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(name), std::string::npos) << messages[0];
    EXPECT_NE(messages[0].find("can no longer be read whole"), std::string::npos) << messages[0];
    EXPECT_TRUE(form_->SB_Start.enabled);
    EXPECT_FALSE(ui_.banner_up);
    EXPECT_EQ(ResultLikeFiles(work_.path()), std::vector<std::string>{});
  }
  std::vector<uint8_t> Merged() { return ReadWholeFile(work_.File("box_Merge.bin")); }

  TempDir work_;
  TempDir files_;
  FakeUi ui_;
  std::unique_ptr<JobState> job_;
  std::unique_ptr<TFormMain> form_;
};

TEST_F(DisappearingInput, TheOpenedImageGoneOrShrunkBeforeStart) {
  for (Variant variant : {kAllImage, kFullImage}) {
    SCOPED_TRACE(VariantLabel(variant));
    std::string image = Write("box.bin", SampleImage(variant));
    Open(image);
    fs::remove(image);
    ExpectStopped(Start(), "box.bin");

    WriteWholeFile(image, SampleImage(variant));
    Open(image);
    fs::resize_file(image, LayoutOf(variant)->file_size / 2);
    ExpectStopped(Start(), "box.bin");
  }
}

TEST_F(DisappearingInput, AnAppImageGoneBeforeStartWasReadWholeAtOpen) {
  // An app image carries no range over from the opened file: everything Start needs was read
  // when it was opened, and the result is the image as it was.
  std::string image = Write("box.bin", SampleImage(kAppImage));
  Open(image);
  fs::remove(image);
  ASSERT_EQ(Start(), std::vector<std::string>{
                         "Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]"});
  EXPECT_TRUE(Merged() == SampleImage(kAppImage));
}

TEST_F(DisappearingInput, TheDatabaseOrKeyGoneOrShrunkBeforeStart) {
  std::string image = Write("box.bin", SampleImage(kAllImage));
  std::vector<uint8_t> key = RandomBytes(0x10000, 21);
  std::vector<uint8_t> compressed_key(0x10000, 0x00);
  WriteLe32(&compressed_key[80], 1);  // to be compressed at Start
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool key;
    bool shrink;
  };
  const Case cases[] = {
      {"db.bin", CodeLikeBytes(0x40000, 22), false, false},
      {"db.bin", CodeLikeBytes(0x40000, 22), false, true},
      {"key.bin", key, true, false},
      {"key.bin", key, true, true},
      {"flagged.bin", compressed_key, true, false},
  };
  for (const Case& item : cases) {
    SCOPED_TRACE(std::string(item.name) + (item.shrink ? " shrunk" : " gone"));
    Open(image);
    std::string path = Write(item.name, item.bytes);
    Choose(item.key ? form_->SB_Key : form_->SB_Default, path);
    if (item.shrink) {
      fs::resize_file(path, 100);
    } else {
      fs::remove(path);
    }
    ExpectStopped(Start(), item.name);
    EXPECT_TRUE(job_->choice_flags[item.key ? kKeyChosen : kDefaultChosen]);
  }
}

TEST_F(DisappearingInput, APictureGoneAfterItsChoiceIsAlreadyTheLogoPicture) {
  std::string image = Write("box.bin", SampleImage(kAppImage));
  Open(image);
  std::string picture = files_.File("logo.bmp");
  SaveBitmap(MakePicture(PictureKind::kFlatLogo, 720, 576, 2), picture);
  Choose(form_->SB_Boot, picture);
  fs::remove(picture);
  ASSERT_EQ(Start().size(), 1u);
  std::vector<uint8_t> merged = Merged();
  EXPECT_EQ(ReadLe32(&merged[job_->directory.entries[3].offset]),
            0xB3010000u);  // a sequence header
}

TEST_F(DisappearingInput, TheImageGoneInTheMiddleOfOpening) {
  // A flash image is read where it lies: its going stops the open with the run-time error.
  std::string image = Write("box.bin", SampleImage(kAllImage));
  ui_.on_pending_events = [&] { fs::remove(image); };
  EXPECT_THROW(Open(image), IoError);
  ui_.on_pending_events = nullptr;
  EXPECT_FALSE(form_->SB_Start.enabled);
  EXPECT_FALSE(form_->SB_Boot.enabled);
  EXPECT_EQ(ResultLikeFiles(work_.path()), std::vector<std::string>{});

  // A download file was converted whole before anything is read from the image.
  std::string download = Write("box.dld", SampleDownload(kAllImage));
  ui_.on_pending_events = [&] { fs::remove(download); };
  Open(download);
  ui_.on_pending_events = nullptr;
  EXPECT_TRUE(form_->SB_Start.enabled);
  ASSERT_EQ(Start(),
            std::vector<std::string>{"Quorvanex: Succeed!  [ Create File: box_Merge.dld]"});
  std::vector<uint8_t> converted;
  ASSERT_TRUE(
      ConvertDownloadBytes(ReadWholeFile(work_.File("box_Merge.dld")), kAllImage, converted));
  EXPECT_TRUE(converted == SampleImage(kAllImage));
}

}  // namespace
}  // namespace qv::testing
