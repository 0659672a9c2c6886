// The form model walked through its states with a scripted Ui: opening images of every
// variant, choosing inputs, Start, Reset and Cancel, and the failures of each.
#include "app/form_main.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "download/download_file.h"
#include "image/settings.h"
#include "platform/file.h"
#include "platform/ini_profile.h"
#include "platform/little_endian.h"
#include "tests/support/form_driver.h"
#include "tests/support/test_images.h"
#include "workfiles/working_files.h"

namespace qv {
namespace {

using testing::FakeUi;

class Form : public ::testing::Test {
 protected:
  // Writes a sample image (a download file when `name` ends in .dld) outside the working
  // directory and returns its path.
  std::string Sample(Variant variant, const std::string& name) {
    return driver_.WriteImage(sample::DefaultImageSpec(variant), name);
  }
  void Open(const std::string& path) { driver_.Open(path); }
  void Start() { form_->SB_StartClick(&form_->SB_Start); }
  std::string Work(const std::string& name) const { return driver_.Work(name); }
  std::string Input(const std::string& name) const { return driver_.Input(name); }
  std::string Output(const std::string& name) const { return driver_.Output(name); }

  void ExpectResetState() {
    for (Button* button : form_->JobButtons())
      EXPECT_FALSE(button->enabled) << button->name;
    for (EditBox* box : form_->SettingBoxes()) {
      EXPECT_TRUE(box->read_only) << box->name;
      EXPECT_EQ(box->colour, BoxColour::kButtonFace) << box->name;
      EXPECT_EQ(box->text, "") << box->name;
    }
    for (EditBox* box : form_->PathBoxes()) {
      if (box != &form_->E_OpenFile) {
        EXPECT_EQ(box->text, "") << box->name;
      }
    }
    EXPECT_EQ(form_->Caption, "Quorvane[1.0.00] -- Mode: STi710X");
  }
  void ExpectOpenedState() {
    for (Button* button : form_->JobButtons())
      EXPECT_TRUE(button->enabled) << button->name;
    for (EditBox* box : form_->SettingBoxes()) {
      EXPECT_FALSE(box->read_only) << box->name;
      EXPECT_EQ(box->colour, BoxColour::kWindow) << box->name;
    }
  }

  testing::FormDriver driver_;
  TFormMain* form_ = &driver_.form();
  FakeUi& ui_ = driver_.ui();
  Job& job_ = driver_.job();
};

TEST_F(Form, StartsInTheResetState) {
  ExpectResetState();
  EXPECT_EQ(form_->E_OpenFile.text, "");
  for (Preview* preview : {&form_->I_Boot, &form_->I_Menu, &form_->I_Radio})
    EXPECT_EQ(preview->picture_path, "");
  EXPECT_TRUE(form_->SB_OpenFile.enabled && form_->SB_Reset.enabled && form_->SB_Close.enabled);
}

class OpenEveryKind : public Form,
                      public ::testing::WithParamInterface<std::tuple<Variant, const char*>> {};

TEST_P(OpenEveryKind, ShowsTheImageAndWritesTheWorkingFiles) {
  auto [variant, name] = GetParam();
  Open(Sample(variant, name));
  EXPECT_TRUE(ui_.TakeMessages().empty());
  ExpectOpenedState();
  EXPECT_EQ(form_->E_OpenFile.text, name);
  EXPECT_EQ(form_->E_ModeID.text, "QV7100-S");
  EXPECT_EQ(form_->E_HttpManuAddr.text, "http://update.example.com/manual/");
  EXPECT_EQ(form_->E_KeyFile.text, "key_710X.dld");
  for (EditBox* box : form_->SettingBoxes())
    EXPECT_FALSE(box->modified);
  for (const char* file : kWorkingFileSet)
    EXPECT_TRUE(FileExists(Work(file))) << file;
  EXPECT_TRUE(FileExists(Work("httpcfg.ini")));
  EXPECT_EQ(job_.merged_name(), std::filesystem::path(name).stem().string() + "_Merge.bin");
  EXPECT_EQ(job_.OpenedFlashImage(), std::string(name).ends_with(".bin"));
}

INSTANTIATE_TEST_SUITE_P(VariantsAndKinds, OpenEveryKind,
                         ::testing::Combine(::testing::Values(kAppImage, kAllImage, kFullImage),
                                            ::testing::Values("box.bin", "box.DLD")),
                         [](const auto& info) {
                           return testing::VariantLabel(std::get<0>(info.param)) +
                                  (std::string(std::get<1>(info.param)).ends_with("bin") ? "_bin"
                                                                                         : "_dld");
                         });

TEST_F(Form, CancellingTheDialogChangesNothing) {
  Open(Sample(kAllImage, "box.bin"));
  form_->SB_OpenFileClick(&form_->SB_OpenFile);  // no answer queued: cancelled
  ExpectOpenedState();
  EXPECT_TRUE(FileExists(Work("httpcfg.ini")));
}

TEST_F(Form, FailedOpensLeaveTheResetStateWithTheNameShown) {
  std::string odd = Input("odd.img");
  WriteWholeFile(odd, std::vector<uint8_t>(0x660001, 0xFF));
  Open(odd);
  EXPECT_EQ(ui_.TakeMessages(), std::vector<std::string>{"Quorvane: Open file type error!"});
  ExpectResetState();
  EXPECT_EQ(form_->E_OpenFile.text, "odd.img");

  std::vector<uint8_t> download = ReadWholeFile(Sample(kAllImage, "box.dld"));
  download[60] = 4;  // a default-database download is no image to edit
  WriteWholeFile(Input("four.dld"), download);
  Open(Input("four.dld"));
  EXPECT_EQ(ui_.TakeMessages(), std::vector<std::string>{"Quorvane: Open file type error!"});

  download = ReadWholeFile(Input("box.dld"));
  download[5000] ^= 1;
  WriteWholeFile(Input("damaged.dld"), download);
  Open(Input("damaged.dld"));
  EXPECT_EQ(ui_.TakeMessages(),
            std::vector<std::string>{"Quorvane: Open File Error: dld to bin wrong!"});
  ExpectResetState();

  WriteWholeFile(Input("short.dld"), std::vector<uint8_t>(40, 0x11));
  Open(Input("short.dld"));
  EXPECT_EQ(ui_.TakeMessages(), std::vector<std::string>{"Quorvane: Open file type error!"});
}

TEST_F(Form, AnImageWithAnUnsafeDirectoryIsRefusedAtOpen) {
  sample::ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.entry_count = 61;
  WriteWholeFile(Input("bad.bin"), sample::BuildFlashImage(spec));
  Open(Input("bad.bin"));
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].kind, MessageKind::kError);
  EXPECT_NE(ui_.messages[0].text.find("entry count of 61"), std::string::npos)
      << ui_.messages[0].text;
  ExpectResetState();
}

TEST_F(Form, StartWithoutChoicesBuildsAndLeavesTheFilesOfTheTable) {
  std::string image = Sample(kFullImage, "box.bin");
  Open(image);
  Start();
  ASSERT_EQ(ui_.TakeMessages(),
            std::vector<std::string>{
                "Quorvanex: Succeed!  [ Create File: box_Merge.bin, box_Merge.dld]"});
  EXPECT_EQ(ui_.banners_shown, 1);
  EXPECT_FALSE(ui_.banner_up);
  EXPECT_TRUE(ReadWholeFile(Output("box_Merge.bin")) == ReadWholeFile(image));
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(ReadWholeFile(Output("box_Merge.dld")), kFullImage, converted));
  EXPECT_TRUE(converted == ReadWholeFile(image));
  // Built state: the texts stay, every command but Open, Reset and Cancel is off.
  for (Button* button : form_->JobButtons())
    EXPECT_FALSE(button->enabled);
  for (EditBox* box : form_->SettingBoxes())
    EXPECT_TRUE(box->read_only);
  EXPECT_EQ(form_->E_ModeID.text, "QV7100-S");
  // Beside the image, its two outputs; the job's own directory is gone with the job.
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(driver_.inputs()))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"box.bin", "box_Merge.bin", "box_Merge.dld"}));
  EXPECT_TRUE(std::filesystem::is_empty(driver_.job_directories()));
}

TEST_F(Form, StartOnADownloadFileLeavesOnlyTheDownloadFile) {
  Open(Sample(kAppImage, "box.dld"));
  form_->E_HttpAutoAddr.Type("http://edited.example/");
  Start();
  ASSERT_EQ(ui_.TakeMessages(),
            std::vector<std::string>{"Quorvanex: Succeed!  [ Create File: box_Merge.dld]"});
  EXPECT_FALSE(FileExists(Output("box_Merge.bin")));
  std::vector<uint8_t> converted;
  ASSERT_TRUE(ConvertDownloadBytes(ReadWholeFile(Output("box_Merge.dld")), kAppImage, converted));
  EXPECT_FALSE(form_->E_HttpAutoAddr.modified);
}

TEST_F(Form, AMergedImageKeptFromAnEarlierBuildIsLeftByLaterJobsOfTheSameName) {
  Open(Sample(kAppImage, "box.bin"));
  Start();
  ASSERT_EQ(ui_.TakeMessages().size(), 1u);
  const std::vector<uint8_t> product = ReadWholeFile(Output("box_Merge.bin"));
  // A download file and a file of no variant, both named box, open and end without a build.
  Open(Sample(kAppImage, "box.dld"));
  form_->SB_ResetClick(&form_->SB_Reset);
  WriteWholeFile(Input("box.img"), std::vector<uint8_t>(100, 0));
  Open(Input("box.img"));
  EXPECT_EQ(ui_.TakeMessages(), std::vector<std::string>{"Quorvane: Open file type error!"});
  form_->SB_CloseClick(&form_->SB_Close);
  ASSERT_TRUE(FileExists(Output("box_Merge.bin")));
  EXPECT_TRUE(ReadWholeFile(Output("box_Merge.bin")) == product);
}

TEST_F(Form, ADownloadFileNamedOnlyByItsExtensionOpensAsOne) {
  const std::string path = Input(".dld");
  WriteWholeFile(path, ReadWholeFile(Sample(kAppImage, "box.dld")));
  Open(path);
  EXPECT_TRUE(ui_.TakeMessages().empty());
  ExpectOpenedState();
  EXPECT_FALSE(job_.OpenedFlashImage());
}

TEST_F(Form, AFailedStartKeepsTheOpenedStateWithChoicesAndMarks) {
  Open(Sample(kAllImage, "box.bin"));
  std::vector<uint8_t> key(0x10000, 0x4B);
  WriteWholeFile(Input("key.bin"), key);
  ui_.answers.push_back(Input("key.bin"));
  form_->SB_DefaultClick(&form_->SB_Key);
  ASSERT_TRUE(job_.Chosen(SourceKind::kKey));
  form_->E_HttpManuAddr.Type("http://new/");
  // An httpcfg.ini that has grown past its partition's slot.
  WriteWholeFile(Work("httpcfg.ini"), std::vector<uint8_t>(kSlotSize + 10, ';'));
  Start();
  std::vector<std::string> messages = ui_.TakeMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("httpcfg.ini"), std::string::npos);
  EXPECT_FALSE(ui_.banner_up);
  ExpectOpenedState();
  EXPECT_TRUE(form_->E_HttpManuAddr.modified);
  EXPECT_TRUE(job_.Chosen(SourceKind::kKey));
  EXPECT_FALSE(FileExists(Output("box_Merge.dld")));
}

TEST_F(Form, DefaultDatabaseAndKeyChoices) {
  Open(Sample(kAllImage, "box.bin"));
  auto choose = [&](Button& button, const std::string& path) {
    ui_.answers.push_back(path);
    form_->SB_DefaultClick(&button);
    return ui_.TakeMessages();
  };
  WriteWholeFile(Input("db.bin"), std::vector<uint8_t>(0x40000 - 1, 1));
  EXPECT_EQ(choose(form_->SB_Default, Input("db.bin")),
            std::vector<std::string>{"Quorvane: Open File Error: file overtop!"});
  EXPECT_EQ(form_->E_Default.text, Input("db.bin"));
  EXPECT_FALSE(job_.Chosen(SourceKind::kDefaultDatabase));

  std::vector<uint8_t> key = sample::RandomBytes(0x10000, 3);
  sample::DownloadSpec key_spec;
  key_spec.variant = kKeyDownload;
  WriteWholeFile(Input("key.dld"), sample::BuildDownload(key, key_spec));
  EXPECT_EQ(choose(form_->SB_Default, Input("key.dld")),
            std::vector<std::string>{"Quorvane: Open File Error: partition number wrong!"});
  EXPECT_EQ(form_->E_Default.text, "");
  EXPECT_TRUE(choose(form_->SB_Key, Input("key.dld")).empty());
  EXPECT_TRUE(ReadWholeFile(Work("Temp_KeyToBin.bin")) == key);
  // A download that fails to convert leaves the accepted key as it was, in the job and its file.
  std::vector<uint8_t> cut = sample::BuildDownload(key, key_spec);
  cut.resize(cut.size() / 2);
  WriteWholeFile(Input("key2.dld"), cut);
  EXPECT_EQ(choose(form_->SB_Key, Input("key2.dld")),
            std::vector<std::string>{"Quorvane: Open File Error: dld to bin wrong!"});
  EXPECT_TRUE(job_.Chosen(SourceKind::kKey));
  EXPECT_TRUE(ReadWholeFile(Work("Temp_KeyToBin.bin")) == key);
  EXPECT_FALSE(FileExists(Work("Temp_KeyToBin.bin.new")));

  std::vector<uint8_t> database = sample::CodeLikeBytes(0x40000, 4);
  WriteWholeFile(Input("db.bin"), database);
  EXPECT_TRUE(choose(form_->SB_Default, Input("db.bin")).empty());
  Start();
  ASSERT_EQ(ui_.TakeMessages().size(), 1u);
  std::vector<uint8_t> merged = ReadWholeFile(Output("box_Merge.bin"));
  EXPECT_TRUE(std::equal(database.begin(), database.end(), merged.begin() + 0x6D0000));
  EXPECT_TRUE(std::equal(key.begin(), key.end(), merged.begin() + 0x6C0000));
}

TEST_F(Form, ResetAndCancelRemoveTheWorkingFilesButNeverAPickedOne) {
  // The image to edit carries a working file's old name.
  std::string image =
      driver_.WriteInput("Temp_DldToBin.bin", ReadWholeFile(Sample(kAllImage, "box.bin")));
  Open(image);
  ExpectOpenedState();
  const std::string httpcfg = Work("httpcfg.ini");
  const std::string converter = Work(kBinToDldProgram);
  form_->SB_ResetClick(&form_->SB_Reset);
  ExpectResetState();
  EXPECT_EQ(form_->E_OpenFile.text, "");
  EXPECT_FALSE(FileExists(httpcfg));
  EXPECT_FALSE(FileExists(converter));
  EXPECT_TRUE(FileExists(image));

  Open(image);
  const std::string manufacturer_cfg = Work(kManufacturerCfg);
  form_->SB_CloseClick(&form_->SB_Close);
  EXPECT_EQ(ui_.ended_with, 0);
  EXPECT_FALSE(FileExists(manufacturer_cfg));
  EXPECT_TRUE(FileExists(image));
}

TEST_F(Form, ConvertingAndCompressingWriteNoFilesBesideTheImage) {
  // The image is converted and the key block compressed in memory: neither step leaves a file
  // of its old name beside the image, and the job directory goes when Start ends the job.
  Open(Sample(kAllImage, "box.dld"));
  std::vector<uint8_t> key(0x10000, 0);
  WriteLe32(&key[80], 1);
  ASSERT_TRUE(driver_.Choose(form_->SB_Key, driver_.WriteInput("key.bin", key)).empty());
  const std::string job_directory = Work("");
  Start();
  ASSERT_EQ(ui_.TakeMessages(),
            std::vector<std::string>{"Quorvanex: Succeed!  [ Create File: box_Merge.dld]"});
  EXPECT_FALSE(std::filesystem::exists(job_directory));
  for (const char* name : {"Temp_DldToBin.bin", "Temp_KeyCompress.bin"})
    EXPECT_FALSE(FileExists(driver_.Input(name))) << name;
}

TEST_F(Form, CommandsArrivingWhileAWorkflowRunsAreIgnored) {
  std::string image = Sample(kAllImage, "box.bin");
  int nested = 0;
  ui_.on_pending_events = [&] {
    ++nested;
    form_->SB_ResetClick(&form_->SB_Reset);
    form_->SB_StartClick(&form_->SB_Start);
  };
  Open(image);
  ui_.on_pending_events = nullptr;
  EXPECT_GT(nested, 0);
  ExpectOpenedState();
  EXPECT_TRUE(ui_.TakeMessages().empty());
}

}  // namespace
}  // namespace qv
