#include "image/settings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/file.h"
#include "platform/ini_profile.h"
#include "tests/support/opened_job.h"

namespace qv {
namespace {

using testing::ImageSpec;
using testing::PartitionSpec;

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

int IndexOf(const JobState& job, const std::string& name) {
  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    if (job.directory.entries[i].NameIs(name)) return i;
  }
  return -1;
}

ImageSpec WithModelIds(std::vector<PartitionSpec> extra) {
  ImageSpec spec = testing::DefaultImageSpec(kAllImage);
  spec.partitions.erase(spec.partitions.begin() + 7);  // the default "modelid"
  spec.partitions.insert(spec.partitions.end(), extra.begin(), extra.end());
  return spec;
}

class Settings : public ::testing::Test {
 protected:
  testing::OpenedJob opened_;
  JobState& job() { return opened_.job(); }
  std::string HttpCfg() {
    std::vector<uint8_t> bytes = ReadWholeFile(opened_.File("httpcfg.ini"));
    return {bytes.begin(), bytes.end()};
  }
  std::string SlotText(int index) {
    const DirectoryEntry& entry = job().directory.entries[index];
    return std::string(job().Slot(index).begin(), job().Slot(index).begin() + entry.Length());
  }
};

TEST_F(Settings, ModelIdIsEveryModelIdPartitionsBytes) {
  opened_.Open(testing::DefaultImageSpec(kFullImage));
  EXPECT_EQ(ReadModelId(job(), opened_.image_path()), "QV7100-S");

  opened_.Open(WithModelIds({{"modelid", Bytes("ABC"), 0, {}, {}, {}, {}},
                             {"MODELID", Bytes(std::string("DE\0F", 4)), 1, {}, {}, {}, {}}}));
  EXPECT_EQ(ReadModelId(job(), opened_.image_path()), std::string("ABCDE\0F", 7));

  opened_.Open(WithModelIds({{"modelid", {}, 0, {}, {}, {}, {}}}));
  EXPECT_EQ(ReadModelId(job(), opened_.image_path()), "");
}

TEST_F(Settings, StoringAModelIdRewritesItsSlotAndLength) {
  opened_.Open(WithModelIds({{"modelid", Bytes("OLD-ID"), 0, {}, {}, {}, {}},
                             {"modelid", Bytes("SELECTED-FIRST"), 1, {}, {}, {}, {}},
                             {"modelid", Bytes("ODD-SELECTOR"), 2, {}, {}, {}, {}}}));
  ASSERT_TRUE(StoreSetting(job(), 0, "QV-99"));
  // Only the entry that used its first length has its selector changed, to choose the new one.
  EXPECT_EQ(job().directory.entries[8].length_selector, 0u);
  EXPECT_EQ(job().directory.entries[9].length_selector, 0u);
  EXPECT_EQ(job().directory.entries[10].length_selector, 2u);
  for (int index : {8, 9, 10}) {
    const DirectoryEntry& entry = job().directory.entries[index];
    EXPECT_EQ(entry.second_length, 5u);
    EXPECT_EQ(entry.Length(), 5u);
    std::span<const uint8_t> slot = job().Slot(index);
    EXPECT_EQ(std::string(slot.begin(), slot.begin() + 6), std::string("QV-99\0", 6));
    EXPECT_TRUE(std::all_of(slot.begin() + 6, slot.end(), [](uint8_t b) { return b == 0xFF; }));
  }
  ASSERT_TRUE(StoreSetting(job(), 0, ""));
  EXPECT_EQ(job().directory.entries[8].Length(), 0u);
  EXPECT_EQ(job().Slot(8)[0], 0);
  EXPECT_EQ(job().Slot(8)[1], 0xFF);
  EXPECT_FALSE(StoreSetting(job(), 0, std::string(kSlotSize, 'x')));
}

TEST_F(Settings, HttpCfgIsExtractedAndItsSevenValuesRead) {
  opened_.Open(testing::DefaultImageSpec(kAppImage));
  ExtractHttpCfg(job());
  EXPECT_EQ(HttpCfg(), testing::SampleHttpCfg());
  LoadHttpSettings(job());
  EXPECT_EQ(
      job().http_settings,
      (std::array<std::string, 7>{"http://update.example.com/manual/",
                                  "http://update.example.com/auto/", "app_710X.dld", "all_710X.dld",
                                  "data_710X.dld", "default_710X.dld", "key_710X.dld"}));
}

TEST_F(Settings, StoringAnHttpValueRewritesTheFileAndThePartitionKeepingUnknownLines) {
  opened_.Open(testing::DefaultImageSpec(kAllImage));
  ExtractHttpCfg(job());
  LoadHttpSettings(job());
  const int httpcfg = IndexOf(job(), "httpcfg");
  ASSERT_TRUE(StoreSetting(job(), 3, "new_app.dld"));
  std::string text = HttpCfg();
  EXPECT_NE(text.find("AutoApp=new_app.dld\r\n"), std::string::npos);
  EXPECT_NE(text.find("RetryCount=3\r\n"), std::string::npos);
  EXPECT_EQ(text.rfind("; HTTP software update settings of the box\r\n", 0), 0u);
  EXPECT_EQ(SlotText(httpcfg), text);
  EXPECT_EQ(job().directory.entries[httpcfg].second_length, text.size());

  // A second edit sees the first one already stored.
  ASSERT_TRUE(StoreSetting(job(), 1, "http://mirror/"));
  EXPECT_EQ(ReadProfileString(SlotText(httpcfg), "Http Auto filename cfg", "AutoApp"),
            "new_app.dld");
  EXPECT_EQ(ReadProfileString(SlotText(httpcfg), "Http Manual cfg", "httpManualAddr"),
            "http://mirror/");
}

TEST_F(Settings, ADeletedHttpCfgIsExtractedAgainAndSelectorOneBecomesZero) {
  ImageSpec spec = testing::DefaultImageSpec(kFullImage);
  spec.partitions[6].length_selector = 1;
  opened_.Open(spec);
  const int httpcfg = IndexOf(job(), "httpcfg");
  ASSERT_EQ(job().directory.entries[httpcfg].length_selector, 1u);
  LoadHttpSettings(job());  // no file: every value empty
  EXPECT_EQ(job().http_settings[0], "");
  job().http_settings = {"a", "b", "c", "d", "e", "f", "g"};  // as loaded before the file went
  ASSERT_TRUE(StoreSetting(job(), 7, "key.dld"));
  const DirectoryEntry& entry = job().directory.entries[httpcfg];
  EXPECT_EQ(entry.length_selector, 0u);
  std::string text = SlotText(httpcfg);
  EXPECT_EQ(text, HttpCfg());
  EXPECT_NE(text.find("RetryCount=3"), std::string::npos);  // came back from the partition
  EXPECT_NE(text.find("AutoKey=key.dld"), std::string::npos);
  EXPECT_NE(text.find("httpManualAddr=a"), std::string::npos);
}

TEST_F(Settings, AnHttpCfgTooLargeForItsSlotIsRefusedAndThePartitionKept) {
  opened_.Open(testing::DefaultImageSpec(kAllImage));
  ExtractHttpCfg(job());
  LoadHttpSettings(job());
  const int httpcfg = IndexOf(job(), "httpcfg");
  std::string before = SlotText(httpcfg);
  std::string padding = HttpCfg() + "; " + std::string(kSlotSize, 'p') + "\r\n";
  WriteWholeFile(opened_.File("httpcfg.ini"), Bytes(padding));
  EXPECT_FALSE(StoreSetting(job(), 2, "http://x/"));
  EXPECT_EQ(SlotText(httpcfg), before);
}

TEST_F(Settings, WithoutAnHttpCfgPartitionValuesGoToAFileNoPartitionReceives) {
  ImageSpec spec = testing::DefaultImageSpec(kAppImage);
  spec.partitions.erase(spec.partitions.begin() + 6);
  opened_.Open(spec);
  ExtractHttpCfg(job());
  EXPECT_FALSE(FileExists(opened_.File("httpcfg.ini")));
  std::vector<uint8_t> slots_before = job().slots;
  ASSERT_TRUE(StoreSetting(job(), 1, "http://only-in-the-file/"));
  EXPECT_EQ(ReadProfileFile(opened_.File("httpcfg.ini"), "Http Manual cfg", "httpManualAddr"),
            "http://only-in-the-file/");
  EXPECT_TRUE(job().slots == slots_before);
}

}  // namespace
}  // namespace qv
