// Every message the choose and Start workflows show, each produced by the situation that
// calls for it, through the form model with a scripted Ui.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>

#include "app/form_main.h"
#include "download/download_file.h"
#include "image/flash_image.h"
#include "image/partition_edits.h"
#include "platform/bitmap.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "tests/support/form_driver.h"
#include "tests/support/test_images.h"
#include "tests/support/test_pictures.h"
#include "workfiles/still_decoder.h"
#include "workfiles/working_files.h"

namespace qv {
namespace {

using testing::FakeUi;
using Messages = std::vector<std::string>;

class Workflow : public ::testing::Test {
 protected:
  void Open(const sample::ImageSpec& spec) {
    driver_.Open(driver_.WriteImage(spec, "box.bin"));
    ASSERT_TRUE(form_->SB_Start.enabled) << ::testing::PrintToString(ui_.TakeMessages());
  }
  Messages Choose(Button& button, const std::string& path) { return driver_.Choose(button, path); }
  std::string Picture(const std::string& name, int width, int height) {
    return driver_.WritePicture(name, width, height);
  }
  Messages Start() {
    Messages messages = driver_.Start();
    EXPECT_FALSE(ui_.banner_up);
    return messages;
  }
  std::string Work(const std::string& name) const { return driver_.Work(name); }
  std::string Input(const std::string& name) const { return driver_.Input(name); }
  std::string Output(const std::string& name) const { return driver_.Output(name); }
  // The directory of the merged image Start wrote.
  PartitionDirectory MergedDirectory(Variant variant) {
    return DecodeDirectoryAt(ReadWholeFile(Output("box_Merge.bin")), *LayoutOf(variant));
  }

  testing::FormDriver driver_;
  TFormMain* form_ = &driver_.form();
  FakeUi& ui_ = driver_.ui();
  Job& job_ = driver_.job();
};

TEST_F(Workflow, LogoChoicesAndTheirMessages) {
  Open(sample::DefaultImageSpec(kAllImage));
  EXPECT_TRUE(Choose(form_->SB_Boot, Picture("logo.bmp", 720, 576)).empty());
  EXPECT_EQ(form_->E_Boot.text, Input("logo.bmp"));
  EXPECT_EQ(form_->I_Boot.picture_path, Input("logo.bmp"));
  EXPECT_TRUE(job_.Chosen(LogoKind::kBoot));

  EXPECT_EQ(Choose(form_->SB_Menu, Picture("big.JPG", 800, 600)),
            Messages{"Quorvane: The size of the picture: 800*600..."});
  EXPECT_TRUE(job_.Chosen(LogoKind::kMenu));
  Bitmap saved = LoadBitmap(Work("menu.bmp"));
  EXPECT_EQ(saved.width, 720);
  EXPECT_EQ(saved.height, 576);

  Bitmap grey = testing::MakePicture(testing::PictureKind::kText, 720, 576);
  testing::WriteJpeg(grey, Input("grey.jpg"), 90, true);
  EXPECT_EQ(Choose(form_->SB_Radio, Input("grey.jpg")),
            Messages{"Quorvane: Open File Error: File pixel wrong, pixel is 24!"});
  EXPECT_FALSE(job_.Chosen(LogoKind::kRadio));
  EXPECT_EQ(form_->E_Radio.text, "");

  // A picture that cannot be read is a run-time input/output error, shown as the system says it.
  EXPECT_EQ(Choose(form_->SB_Radio, Input("absent.jpg")), Messages{"File not found"});
  EXPECT_FALSE(job_.Chosen(LogoKind::kRadio));
}

TEST_F(Workflow, StartWithThreeLogosReplacesTheirPartitions) {
  Open(sample::DefaultImageSpec(kFullImage));
  ASSERT_TRUE(Choose(form_->SB_Boot, Picture("a.bmp", 720, 576)).empty());
  ASSERT_TRUE(Choose(form_->SB_Menu, Picture("b.jpg", 720, 480)).empty());
  ASSERT_TRUE(Choose(form_->SB_Radio, Picture("c.bmp", 720, 576)).empty());
  const std::string job_directory = Work("");
  ASSERT_EQ(Start(), Messages{"Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]"});
  std::vector<uint8_t> merged = ReadWholeFile(Output("box_Merge.bin"));
  const PartitionDirectory directory = MergedDirectory(kFullImage);
  for (int index : {3, 4, 5}) {
    const DirectoryEntry& entry = directory.entries[index];
    size_t at = 0x50000 + entry.offset;
    EXPECT_EQ(ReadLe32(&merged[at]), 0xB3010000u) << entry.Name();  // a sequence header
    EXPECT_EQ(ReadLe32(&merged[at + entry.Length() - 4]), 0xB7010000u)
        << entry.Name();  // sequence end
    EXPECT_LE(entry.Length(), 30592u);
  }
  EXPECT_FALSE(std::filesystem::exists(job_directory));  // the stills went with it
}

TEST_F(Workflow, ALogoPictureThatCannotBeEncodedTimesOutAndTheLogoIsInvalid) {
  Open(sample::DefaultImageSpec(kAllImage));
  ASSERT_TRUE(Choose(form_->SB_Menu, Picture("a.bmp", 720, 576)).empty());
  RemoveFile(Work("menu.bmp"));
  EXPECT_EQ(Start(),
            (Messages{"File Error: Time out!", "Quorvanex: The menu picture is invalid !"}));
  EXPECT_TRUE(form_->SB_Start.enabled);              // still opened
  EXPECT_FALSE(FileExists(Work(kBinToDldProgram)));  // the working files went
  // Start again without opening: the picture is gone, the same logo fails the same way.
  EXPECT_EQ(Start(),
            (Messages{"File Error: Time out!", "Quorvanex: The menu picture is invalid !"}));
}

TEST_F(Workflow, TheLogosAreEncodedTogetherButReportedInTheirOrder) {
  // The menu and radio pictures both fail: only the menu's failure is shown, as the first in
  // the order boot, menu, radio, whichever encoding ends first.
  for (int run = 0; run < 3; ++run) {
    Open(sample::DefaultImageSpec(kAllImage));
    ASSERT_TRUE(Choose(form_->SB_Boot, Picture("a.bmp", 720, 576)).empty());
    ASSERT_TRUE(Choose(form_->SB_Menu, Picture("b.bmp", 720, 576)).empty());
    ASSERT_TRUE(Choose(form_->SB_Radio, Picture("c.bmp", 720, 576)).empty());
    RemoveFile(Work("menu.bmp"));
    WriteWholeFile(Work("radio.bmp"), std::vector<uint8_t>(54, 'B'));
    EXPECT_EQ(Start(),
              (Messages{"File Error: Time out!", "Quorvanex: The menu picture is invalid !"}));
  }
  // All three sound: all three stills are in the merged image, each where its name says.
  Open(sample::DefaultImageSpec(kAllImage));
  const std::array<std::string, 3> pictures = {
      Picture("a.bmp", 720, 576), Picture("b.bmp", 720, 480), Picture("c.bmp", 720, 576)};
  ASSERT_TRUE(Choose(form_->SB_Boot, pictures[0]).empty());
  ASSERT_TRUE(Choose(form_->SB_Menu, pictures[1]).empty());
  ASSERT_TRUE(Choose(form_->SB_Radio, pictures[2]).empty());
  ASSERT_EQ(Start().size(), 1u);
  Result<FlashImage> merged = FlashImage::Parse(ReadWholeFile(Output("box_Merge.bin")), kAllImage);
  ASSERT_TRUE(merged) << merged.error().text;
  const std::array<int, 3> heights = {576, 480, 576};
  const PartitionDirectory& directory = merged->directory();
  for (size_t i = 0; i < kLogos.size(); ++i) {
    std::optional<std::span<const uint8_t>> still;
    for (int entry = 0; entry < directory.UsableCount(); ++entry) {
      if (directory.entries[entry].NameIs(std::string(kLogos[i].partition)))
        still = merged->Partition(entry);
    }
    ASSERT_TRUE(still) << kLogos[i].partition;
    Result<Bitmap> decoded = DecodeStill(*still);
    ASSERT_TRUE(decoded) << decoded.error().text;
    EXPECT_EQ(decoded->height, heights[i]) << kLogos[i].partition;
  }
}

TEST_F(Workflow, StillsThatDoNotFit) {
  // Only a few bytes of partition space left, and a boot partition that cannot grow into it.
  sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.partitions[1].offset = {};
  spec.partitions[2].offset = {};
  spec.manufacturer.regions.clear();
  uint32_t used = 0;
  for (const sample::PartitionSpec& part : spec.partitions)
    used += RoundUp16(static_cast<uint32_t>(part.data.size()));
  spec.partitions[0].data.resize(spec.partitions[0].data.size() + (kPartitionSpace - used - 0x200));
  Open(spec);
  ASSERT_EQ(FreePartitionSpace(job_.image()->directory()), 0x200);
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
  Open(sample::DefaultImageSpec(kAllImage));
  std::vector<uint8_t> key = sample::RandomBytes(0x10000, 9);
  WriteLe32(&key[80], 1);  // to be compressed, but random bytes do not compress
  WriteWholeFile(Input("key.bin"), key);
  ASSERT_TRUE(Choose(form_->SB_Key, Input("key.bin")).empty());
  form_->SB_StartClick(&form_->SB_Start);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].kind, MessageKind::kPlain);
  EXPECT_EQ(ui_.TakeMessages(), Messages{"Quorvanex: Compress key file failed..."});
  EXPECT_TRUE(form_->SB_Start.enabled);

  std::fill(key.begin() + 100, key.end(), 0x00);
  WriteLe32(&key[80], 1);
  WriteWholeFile(Input("key.bin"), key);
  EXPECT_EQ(Start().size(), 1u);
  std::vector<uint8_t> merged = ReadWholeFile(Output("box_Merge.bin"));
  EXPECT_EQ(ReadLe32(&merged[0x6C0000 + 80]), 1u);
  uint32_t stream = ReadLe32(&merged[0x6C0000 + 84]);
  EXPECT_LT(stream, 2000u);
  EXPECT_EQ(merged[0x6C0000 + 88 + stream], 0xFF);
}

TEST_F(Workflow, AChosenSourceThatWentBeforeStartStopsIt) {
  Open(sample::DefaultImageSpec(kAllImage));
  WriteWholeFile(Input("db.bin"), std::vector<uint8_t>(0x40000, 7));
  ASSERT_TRUE(Choose(form_->SB_Default, Input("db.bin")).empty());
  RemoveFile(Input("db.bin"));
  Messages messages = Start();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("db.bin"), std::string::npos) << messages[0];
  EXPECT_FALSE(FileExists(Output("box_Merge.dld")));
  EXPECT_TRUE(form_->SB_Start.enabled);

  WriteWholeFile(Input("db.dld"), std::vector<uint8_t>(100, 0));
  std::vector<uint8_t> download = ReadWholeFile(Input("db.dld"));
  download[60] = 4;
  WriteWholeFile(Input("db.dld"), download);
  EXPECT_EQ(Choose(form_->SB_Default, Input("db.dld")),
            Messages{"Quorvane: Open File Error: dld to bin wrong!"});
  EXPECT_EQ(Choose(form_->SB_Default, Input("none.bin")), Messages{"File not found"});
}

TEST_F(Workflow, ARunTimeErrorIsShownInTheApplicationsOwnBox) {
  Open(sample::DefaultImageSpec(kAllImage));
  ui_.answers.push_back(Input("none.bin"));
  form_->SB_DefaultClick(&form_->SB_Default);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].kind, MessageKind::kRunTimeError);
  EXPECT_STREQ(CaptionOf(ui_.messages[0].kind), "Quorvan[1.0.00]");
  EXPECT_EQ(ui_.messages[0].text, "File not found");
  EXPECT_TRUE(form_->SB_Start.enabled);
}

TEST_F(Workflow, WorkingFilesAreWrittenWhereNothingCanBeInTheirWay) {
  // A directory named like a working file beside the image used to stand in the way of that
  // file ("Create temp file !"); the working files now go into the job's own directory, which
  // nothing existed in before the job.
  std::filesystem::create_directory(Input(kPalPar));
  driver_.Open(driver_.WriteImage(sample::DefaultImageSpec(kAllImage), "box.bin"));
  EXPECT_EQ(ui_.TakeMessages(), Messages{});
  EXPECT_TRUE(std::filesystem::is_regular_file(Work(kPalPar)));
  EXPECT_TRUE(std::filesystem::is_directory(Input(kPalPar)));
  EXPECT_EQ(std::filesystem::status(driver_.job().working_directory()).permissions() &
                std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
}

TEST_F(Workflow, ARepackThatWouldOverlapStopsStart) {
  // "boot" sits in a gap before "fw_audio"; re-packed after "appcode" with a bigger still it
  // would run into the audio firmware.
  sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
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
