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

TEST_F(HostileOutputs, AConverterEndedPartWayLeavesNothingOfItsDownload) {
  // A converter that writes part of the download under its temporary name and then hangs.
  FormDriver driver(1500);
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  driver.Open(image);
  ASSERT_TRUE(driver.form().SB_Start.enabled);
  const std::string converter = driver.Work(kBinToDldProgram);
  std::string script =
      "#!/bin/sh\nhead -c 1000 \"$3\" > \"${3%bin}dld.part999-0\"\nexec sleep 60\n";
  WriteWholeFile(converter, BytesOf(script));
  ::chmod(converter.c_str(), 0755);
  EXPECT_EQ(driver.Start(), std::vector<std::string>{"Quorvane: Create file failed!"});
  EXPECT_FALSE(fs::exists(driver.Output("box_Merge.bin")));
  EXPECT_FALSE(fs::exists(driver.Output("box_Merge.dld")));
  EXPECT_EQ(ResultLikeFiles(driver.job_directories()), std::vector<std::string>{});
  EXPECT_TRUE(watched_.Unchanged());
}

}  // namespace
}  // namespace qv::testing
