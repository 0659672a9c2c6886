// The job service on its own, as the command line drives it: what a job holds between its
// workflows, and what the job reset and the end of a job leave.
#include "app/job.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"
#include "workfiles/working_files.h"

namespace qv {
namespace {

class JobTest : public ::testing::Test {
 protected:
  JobTest() : job_(Options()) { job_.JobReset(); }
  JobOptions Options() const {
    JobOptions options;
    options.job_directory_parent = jobs_.path();
    return options;
  }
  std::string Input(const std::string& name, const std::vector<uint8_t>& bytes) const {
    WriteWholeFile(inputs_.File(name), bytes);
    return inputs_.File(name);
  }
  std::string Work(const std::string& name) const { return job_.working_directory() + name; }

  testing::TempDir jobs_;
  testing::TempDir inputs_;
  Job job_;
};

TEST_F(JobTest, OpenHoldsTheImageAndItsSettings) {
  const std::vector<uint8_t> image = sample::BuildFlashImage(sample::DefaultImageSpec(kAllImage));
  Outcome opened = job_.Open(Input("box.bin", image));
  ASSERT_TRUE(opened.done());
  EXPECT_TRUE(opened.messages.empty());
  EXPECT_EQ(job_.phase(), JobPhase::kOpened);
  ASSERT_TRUE(job_.image());
  EXPECT_TRUE(std::equal(job_.image()->bytes().begin(), job_.image()->bytes().end(), image.begin(),
                         image.end()));
  EXPECT_TRUE(job_.OpenedFlashImage());
  EXPECT_EQ(job_.ModelIdText(), "QV7100-S");
  EXPECT_EQ(job_.http_settings()[0], "http://update.example.com/manual/");
  EXPECT_EQ(job_.merged_name(), "box_Merge.bin");
  EXPECT_EQ(job_.download_name(), "box_Merge.dld");
  for (const char* file : kWorkingFileSet)
    EXPECT_TRUE(FileExists(Work(file))) << file;
}

TEST_F(JobTest, TheJobResetForgetsTheImageTheChoicesAndTheEdits) {
  ASSERT_TRUE(
      job_.Open(Input("box.bin", sample::BuildFlashImage(sample::DefaultImageSpec(kAllImage))))
          .done());
  ASSERT_TRUE(
      job_.ChooseSource(SourceKind::kKey, Input("key.bin", std::vector<uint8_t>(0x10000))).done());
  EXPECT_TRUE(job_.Chosen(SourceKind::kKey));
  job_.EditSetting(SettingKind::kModelId, "QV-NEW");

  job_.Reset();
  EXPECT_EQ(job_.phase(), JobPhase::kReset);
  EXPECT_FALSE(job_.image());
  EXPECT_FALSE(job_.OpenedFlashImage());
  EXPECT_FALSE(job_.Chosen(SourceKind::kKey));
  EXPECT_EQ(job_.ModelIdText(), "");
  EXPECT_EQ(job_.http_settings(), HttpSettings{});
  EXPECT_EQ(job_.merged_name(), "");
  // The Reset command removed the job's directory; Start has nothing to build.
  EXPECT_EQ(job_.working_directory(), "");
  EXPECT_TRUE(std::filesystem::is_empty(jobs_.path()));
  EXPECT_EQ(job_.Build(inputs_.path()).status, Status::kRefused);
}

TEST_F(JobTest, ChoicesAndStartNeedAnOpenedImage) {
  ChoiceOutcome chosen = job_.ChooseSource(SourceKind::kDefaultDatabase,
                                           Input("db.bin", std::vector<uint8_t>(0x40000)));
  EXPECT_EQ(chosen.status, Status::kRefused);
  EXPECT_TRUE(chosen.messages.empty());
  EXPECT_FALSE(job_.Chosen(SourceKind::kDefaultDatabase));
  Outcome built = job_.Build(inputs_.path());
  EXPECT_EQ(built.status, Status::kRefused);
  EXPECT_TRUE(built.messages.empty());
}

}  // namespace
}  // namespace qv
