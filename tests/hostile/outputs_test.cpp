// Outputs that would fall on an input, and outputs that a failed build leaves half-written.
#include <sys/stat.h>

#include <filesystem>

#include "platform/file.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/form_driver.h"
#include "tests/support/test_images.h"
#include "workfiles/working_files.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

class HostileOutputs : public Hostile {};

TEST_F(HostileOutputs, AnInputWhereAnOutputWouldGoIsNeverOverwritten) {
  // Sources in the working directory under the names of this build's outputs.
  std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  const std::string database = Work() + "/box_Merge.bin";
  WriteWholeFile(database, sample::CodeLikeBytes(0x40000, 31));
  InputFiles in_the_way;
  in_the_way.Watch(database);
  EXPECT_TRUE(
      Refused(Build(image, {"--default-db", database}), "box_Merge.bin would be overwritten"));
  EXPECT_TRUE(in_the_way.Unchanged());
  fs::remove(database);

  sample::DownloadSpec key_spec;
  key_spec.variant = kKeyDownload;
  const std::string key = Work() + "/box_Merge.dld";
  WriteWholeFile(key, sample::BuildDownload(sample::RandomBytes(0x10000, 32), key_spec));
  watched_.Watch(key);
  EXPECT_TRUE(Refused(Build(image, {"--key", key}), "box_Merge.dld would be overwritten"));
  EXPECT_TRUE(watched_.Unchanged());
  EXPECT_FALSE(fs::exists(Work() + "/box_Merge.bin"));
}

TEST_F(HostileOutputs, AFailedBuildLeavesNoMergedImage) {
  // A key block that asks to be compressed but does not compress: Start stops at the key.
  std::string image = WriteInput("box.bin", SampleImage(kAllImage));
  std::vector<uint8_t> key = sample::RandomBytes(0x10000, 33);
  key[80] = 1, key[81] = key[82] = key[83] = 0;
  EXPECT_TRUE(
      Refused(Build(image, {"--key", WriteInput("key.bin", key)}), "Compress key file failed..."));
  ExpectNoResult();
}

TEST_F(HostileOutputs, ProgramsPlantedInTheWorkingDirectoryAreNeverRun) {
  // Both converters replaced in the job's directory by a program that leaves a mark, writes
  // part of a download under its temporary name and hangs: Start makes the stills and the
  // download itself and runs neither.
  FormDriver driver;
  driver.Open(driver.WriteImage(sample::DefaultImageSpec(kAppImage), "box.bin"));
  ASSERT_TRUE(driver.form().SB_Start.enabled);
  ASSERT_TRUE(driver.Choose(driver.form().SB_Boot, driver.WritePicture("a.bmp", 720, 576)).empty());
  const std::string mark = driver.Output("planted-program-ran");
  for (const char* program : {kBinToDldProgram, kFormatSwitchProgram}) {
    const std::string script = "#!/bin/sh\ntouch '" + mark +
                               "'\nhead -c 1000 \"$3\" > \"${3%bin}dld.part999-0\"\n"
                               "exec sleep 60\n";
    WriteWholeFile(driver.Work(program), BytesOf(script));
    ::chmod(driver.Work(program).c_str(), 0755);
  }
  const std::vector<std::string> messages = driver.Start();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_TRUE(messages[0].starts_with("Quorvanex: Succeed!")) << messages[0];
  EXPECT_FALSE(fs::exists(mark));
  EXPECT_TRUE(fs::exists(driver.Output("box_Merge.bin")));
  EXPECT_TRUE(fs::exists(driver.Output("box_Merge.dld")));
  EXPECT_TRUE(watched_.Unchanged());
}

}  // namespace
}  // namespace qv::testing
