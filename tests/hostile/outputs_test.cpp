// Outputs that would fall on an input, and outputs that a failed build leaves half-written.
#include <sys/stat.h>

#include <filesystem>

#include "app/form_main.h"
#include "platform/file.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/fake_ui.h"
#include "tests/support/image_builder.h"
#include "workfiles/working_files.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

class HostileOutputs : public Hostile {};

TEST_F(HostileOutputs, AnInputWhereAnOutputWouldGoIsNeverOverwritten) {
  // Sources in the working directory under the names of this build's outputs.
  std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  const std::string database = Work() + "/box_Merge.bin";
  WriteWholeFile(database, CodeLikeBytes(0x40000, 31));
  InputFiles in_the_way;
  in_the_way.Watch(database);
  EXPECT_TRUE(
      Refused(Build(image, {"--default-db", database}), "box_Merge.bin would be overwritten"));
  EXPECT_TRUE(in_the_way.Unchanged());
  fs::remove(database);

  DownloadSpec key_spec;
  key_spec.variant = kKeyDownload;
  const std::string key = Work() + "/box_Merge.dld";
  WriteWholeFile(key, BuildDownload(RandomBytes(0x10000, 32), key_spec));
  watched_.Watch(key);
  EXPECT_TRUE(Refused(Build(image, {"--key", key}), "box_Merge.dld would be overwritten"));
  EXPECT_TRUE(watched_.Unchanged());
  EXPECT_FALSE(fs::exists(Work() + "/box_Merge.bin"));
}

TEST_F(HostileOutputs, AFailedBuildLeavesNoMergedImage) {
  // A key block that asks to be compressed but does not compress: Start stops at the key.
  std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  std::vector<uint8_t> key = RandomBytes(0x10000, 33);
  key[80] = 1, key[81] = key[82] = key[83] = 0;
  EXPECT_TRUE(
      Refused(Build(image, {"--key", WriteInput("key.bin", key)}), "Compress key file failed..."));
  ExpectNoResult();
}

TEST_F(HostileOutputs, AConverterEndedPartWayLeavesNothingOfItsDownload) {
  // A converter that writes part of the download under its temporary name and then hangs.
  TempDir work;
  FakeUi ui;
  auto job = std::make_unique<JobState>();
  TFormMain form(ui, *job, FormOptions{work.path() + "/", "", 1500});
  form.FormCreate(nullptr);
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  ui.answers.push_back(image);
  form.SB_OpenFileClick(&form.SB_OpenFile);
  const std::string converter = work.File(kBinToDldProgram);
  WriteWholeFile(converter, std::vector<uint8_t>{});
  std::string script =
      "#!/bin/sh\nhead -c 1000 \"$3\" > \"${3%bin}dld.part999-0\"\nexec sleep 60\n";
  WriteWholeFile(converter,
                 std::span(reinterpret_cast<const uint8_t*>(script.data()), script.size()));
  ::chmod(converter.c_str(), 0755);
  form.SB_StartClick(&form.SB_Start);
  EXPECT_EQ(ui.TakeMessages(), std::vector<std::string>{"Quorvane: Create file failed!"});
  EXPECT_EQ(ResultLikeFiles(work.path()), std::vector<std::string>{});
  EXPECT_TRUE(watched_.Unchanged());
}

}  // namespace
}  // namespace qv::testing
