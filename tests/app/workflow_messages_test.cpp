// Every message the choose and Start workflows show, each produced by the situation that
// calls for it, through the form model with a scripted Ui.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/form_main.h"
#include "download/download_file.h"
#include "image/merged_image.h"
#include "platform/bitmap.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "tests/support/fake_ui.h"
#include "tests/support/image_builder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"
#include "workfiles/working_files.h"

namespace qv {
namespace {

using testing::FakeUi;
using Messages = std::vector<std::string>;

class Workflow : public ::testing::Test {
 protected:
  Workflow() : job_(std::make_unique<JobState>()) {
    std::filesystem::create_directory(files_.File("work"));
    directory_ = files_.File("work") + "/";
    form_ = std::make_unique<TFormMain>(ui_, *job_, FormOptions{directory_, "", 60000});
    form_->FormCreate(nullptr);
  }

  void Open(const testing::ImageSpec& spec) {
    WriteWholeFile(files_.File("box.bin"), testing::BuildFlashImage(spec));
    ui_.answers.push_back(files_.File("box.bin"));
    form_->SB_OpenFileClick(&form_->SB_OpenFile);
    ASSERT_TRUE(form_->SB_Start.enabled) << ::testing::PrintToString(ui_.TakeMessages());
  }
  Messages Choose(Button& button, const std::string& path) {
    ui_.answers.push_back(path);
    if (&button == &form_->SB_Default || &button == &form_->SB_Key) {
      form_->SB_DefaultClick(&button);
    } else {
      form_->SB_BootClick(&button);
    }
    return ui_.TakeMessages();
  }
  std::string Picture(const std::string& name, int width, int height) {
    Bitmap picture = testing::MakePicture(testing::PictureKind::kFlatLogo, width, height);
    std::string path = files_.File(name);
    if (name.ends_with(".bmp")) {
      SaveBitmap(picture, path);
    } else {
      testing::WriteJpeg(picture, path);
    }
    return path;
  }
  Messages Start() {
    form_->SB_StartClick(&form_->SB_Start);
    EXPECT_FALSE(ui_.banner_up);
    return ui_.TakeMessages();
  }
  std::string Work(const std::string& name) { return directory_ + name; }

  testing::TempDir files_;
  std::string directory_;
  FakeUi ui_;
  std::unique_ptr<JobState> job_;
  std::unique_ptr<TFormMain> form_;
};

TEST_F(Workflow, LogoChoicesAndTheirMessages) {
  Open(testing::DefaultImageSpec(kAllImage));
  EXPECT_TRUE(Choose(form_->SB_Boot, Picture("logo.bmp", 720, 576)).empty());
  EXPECT_EQ(form_->E_Boot.text, files_.File("logo.bmp"));
  EXPECT_EQ(form_->I_Boot.picture_path, files_.File("logo.bmp"));
  EXPECT_EQ(job_->logo_commands[0], "/c formatswitch.exe -c boot.bmp");

  EXPECT_EQ(Choose(form_->SB_Menu, Picture("big.JPG", 800, 600)),
            Messages{"Quorvane: The size of the picture: 800*600..."});
  EXPECT_TRUE(job_->choice_flags[kMenuChosen]);
  Bitmap saved = LoadBitmap(Work("menu.bmp"));
  EXPECT_EQ(saved.width, 720);
  EXPECT_EQ(saved.height, 576);

  Bitmap grey = testing::MakePicture(testing::PictureKind::kText, 720, 576);
  testing::WriteJpeg(grey, files_.File("grey.jpg"), 90, true);
  EXPECT_EQ(Choose(form_->SB_Radio, files_.File("grey.jpg")),
            Messages{"Quorvane: Open File Error: File pixel wrong, pixel is 24!"});
  EXPECT_FALSE(job_->choice_flags[kRadioChosen]);
  EXPECT_EQ(form_->E_Radio.text, "");

  // A picture that cannot be read is a run-time input/output error for the front end to show.
  EXPECT_THROW(Choose(form_->SB_Radio, files_.File("absent.jpg")), IoError);
}

TEST_F(Workflow, StartWithThreeLogosReplacesTheirPartitions) {
  Open(testing::DefaultImageSpec(kFullImage));
  ASSERT_TRUE(Choose(form_->SB_Boot, Picture("a.bmp", 720, 576)).empty());
  ASSERT_TRUE(Choose(form_->SB_Menu, Picture("b.jpg", 720, 480)).empty());
  ASSERT_TRUE(Choose(form_->SB_Radio, Picture("c.bmp", 720, 576)).empty());
  ASSERT_EQ(Start(), Messages{"Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]"});
  std::vector<uint8_t> merged = ReadWholeFile(Work("box_Merge.bin"));
  for (int index : {3, 4, 5}) {
    const DirectoryEntry& entry = job_->directory.entries[index];
    size_t at = 0x50000 + entry.offset;
    EXPECT_EQ(ReadLe32(&merged[at]), 0xB3010000u) << entry.Name();  // a sequence header
    EXPECT_EQ(ReadLe32(&merged[at + entry.Length() - 4]), 0xB7010000u)
        << entry.Name();  // sequence end
    EXPECT_LE(entry.Length(), 30592u);
  }
  EXPECT_FALSE(FileExists(Work("boot.m2v")));
}

TEST_F(Workflow, AMissingConverterTimesOutAndTheLogoIsInvalid) {
  Open(testing::DefaultImageSpec(kAllImage));
  ASSERT_TRUE(Choose(form_->SB_Menu, Picture("a.bmp", 720, 576)).empty());
  RemoveFile(Work(kFormatSwitchProgram));
  EXPECT_EQ(Start(),
            (Messages{"File Error: Time out!", "Quorvanex: The menu picture is invalid !"}));
  EXPECT_TRUE(form_->SB_Start.enabled);              // still opened
  EXPECT_FALSE(FileExists(Work(kBinToDldProgram)));  // the working files went
  // Start again without opening: the converter is gone, the same logo fails the same way.
  EXPECT_EQ(Start(),
            (Messages{"File Error: Time out!", "Quorvanex: The menu picture is invalid !"}));
}

TEST_F(Workflow, StillsThatDoNotFit) {
  // Only a few bytes of partition space left, and a boot partition that cannot grow into it.
  testing::ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  spec.partitions[1].offset = {};
  spec.partitions[2].offset = {};
  spec.manufacturer.regions.clear();
  uint32_t used = 0;
  for (const testing::PartitionSpec& part : spec.partitions)
    used += RoundUp16(static_cast<uint32_t>(part.data.size()));
  spec.partitions[0].data.resize(spec.partitions[0].data.size() + (kPartitionSpace - used - 0x200));
  Open(spec);
  ASSERT_EQ(FreePartitionSpace(*job_), 0x200);
  ASSERT_TRUE(Choose(form_->SB_Boot, Picture("a.bmp", 720, 576)).empty());
  EXPECT_EQ(Start(),
            (Messages{"The new file is overflow!", "Quorvanex: The boot picture is invalid !"}));

  spec.partitions.erase(spec.partitions.begin() +
                        5);  // no "radio" partition: the still is appended
  Open(spec);
  ASSERT_TRUE(Choose(form_->SB_Radio, Picture("b.bmp", 720, 576)).empty());
  EXPECT_EQ(Start(), (Messages{"Quorvane: The file is overflow!", "The new file is overflow!",
                               "Quorvanex: The radio picture is invalid !"}));
}

TEST_F(Workflow, KeyBlocksCompressedOrCopied) {
  Open(testing::DefaultImageSpec(kAllImage));
  std::vector<uint8_t> key = testing::RandomBytes(0x10000, 9);
  WriteLe32(&key[80], 1);  // to be compressed, but random bytes do not compress
  WriteWholeFile(files_.File("key.bin"), key);
  ASSERT_TRUE(Choose(form_->SB_Key, files_.File("key.bin")).empty());
  form_->SB_StartClick(&form_->SB_Start);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].kind, MessageKind::kPlain);
  EXPECT_EQ(ui_.TakeMessages(), Messages{"Quorvanex: Compress key file failed..."});
  EXPECT_TRUE(form_->SB_Start.enabled);

  std::fill(key.begin() + 100, key.end(), 0x00);
  WriteLe32(&key[80], 1);
  WriteWholeFile(files_.File("key.bin"), key);
  EXPECT_EQ(Start().size(), 1u);
  std::vector<uint8_t> merged = ReadWholeFile(Work("box_Merge.bin"));
  EXPECT_EQ(ReadLe32(&merged[0x6C0000 + 80]), 1u);
  uint32_t stream = ReadLe32(&merged[0x6C0000 + 84]);
  EXPECT_LT(stream, 2000u);
  EXPECT_EQ(merged[0x6C0000 + 88 + stream], 0xFF);
}

TEST_F(Workflow, AChosenSourceThatWentBeforeStartStopsIt) {
  Open(testing::DefaultImageSpec(kAllImage));
  WriteWholeFile(files_.File("db.bin"), std::vector<uint8_t>(0x40000, 7));
  ASSERT_TRUE(Choose(form_->SB_Default, files_.File("db.bin")).empty());
  RemoveFile(files_.File("db.bin"));
  Messages messages = Start();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("db.bin"), std::string::npos) << messages[0];
  EXPECT_FALSE(FileExists(Work("box_Merge.dld")));
  EXPECT_TRUE(form_->SB_Start.enabled);

  WriteWholeFile(files_.File("db.dld"), std::vector<uint8_t>(100, 0));
  std::vector<uint8_t> download = ReadWholeFile(files_.File("db.dld"));
  download[60] = 4;
  WriteWholeFile(files_.File("db.dld"), download);
  EXPECT_EQ(Choose(form_->SB_Default, files_.File("db.dld")),
            Messages{"Quorvane: Open File Error: dld to bin wrong!"});
  EXPECT_THROW(Choose(form_->SB_Default, files_.File("none.bin")), IoError);
}

TEST_F(Workflow, TheDownloadConverterMissingOrFailing) {
  Open(testing::DefaultImageSpec(kAppImage));
  RemoveFile(Work(kBinToDldProgram));
  EXPECT_EQ(Start(), Messages{"Quorvanex: Create File:_Merge.dld Faild !"});
  EXPECT_TRUE(form_->SB_Start.enabled);

  // A converter that ends without writing anything.
  Open(testing::DefaultImageSpec(kAppImage));
  std::filesystem::copy_file("/bin/true", Work(kBinToDldProgram),
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_EQ(Start(), Messages{"Quorvane: Create file failed!"});
  EXPECT_FALSE(form_->SB_Start.enabled);  // built state
  EXPECT_FALSE(FileExists(Work("box_Merge.dld")));
}

TEST_F(Workflow, AnUnrecognisedVariantAtStart) {
  Open(testing::DefaultImageSpec(kAllImage));
  job_->partition_count = 10;
  EXPECT_EQ(Start(), Messages{"Quorvane: Open file type error!"});
}

TEST_F(Workflow, AWorkingFileThatCannotBeWritten) {
  // A directory in the way of PAL.par: it can be neither removed nor replaced by the file.
  std::filesystem::create_directory(Work(kPalPar));
  testing::ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  WriteWholeFile(files_.File("box.bin"), testing::BuildFlashImage(spec));
  ui_.answers.push_back(files_.File("box.bin"));
  form_->SB_OpenFileClick(&form_->SB_OpenFile);
  EXPECT_EQ(ui_.TakeMessages(), Messages{"Quorvane: Create temp file !"});
  EXPECT_TRUE(form_->SB_Start.enabled);  // the open completes all the same
}

TEST_F(Workflow, ARepackThatWouldOverlapStopsStart) {
  // "boot" sits in a gap before "fw_audio"; re-packed after "appcode" with a bigger still it
  // would run into the audio firmware.
  testing::ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  std::rotate(spec.partitions.begin() + 1, spec.partitions.begin() + 3,
              spec.partitions.begin() + 4);
  spec.partitions[0].data.resize(0x280000 - 0x4000);
  spec.partitions[1].data.resize(0x100);
  spec.manufacturer.regions.clear();
  Open(spec);
  ASSERT_TRUE(Choose(form_->SB_Boot, Picture("a.bmp", 720, 576)).empty());
  Messages messages = Start();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(
      messages[0].rfind("Quorvane: The partitions do not fit the image: the partition \"boot\"", 0),
      0u)
      << messages[0];
  EXPECT_TRUE(form_->SB_Start.enabled);
}

}  // namespace
}  // namespace qv
