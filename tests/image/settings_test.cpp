// The model id and the HTTP settings: read from the image, and stored into its partitions.
#include "image/settings.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "image/flash_image.h"
#include "image/partition_edits.h"
#include "platform/ini_profile.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

using sample::ImageSpec;
using sample::PartitionSpec;

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

std::string Text(std::span<const uint8_t> bytes) {
  return {bytes.begin(), bytes.end()};
}

int IndexOf(const PartitionDirectory& directory, const std::string& name) {
  for (int i = 0; i < directory.UsableCount(); ++i) {
    if (directory.entries[i].NameIs(name)) return i;
  }
  return -1;
}

ImageSpec WithModelIds(std::vector<PartitionSpec> extra) {
  ImageSpec spec = sample::DefaultImageSpec(kAllImage);
  spec.partitions.erase(spec.partitions.begin() + 7);  // the default "modelid"
  spec.partitions.insert(spec.partitions.end(), extra.begin(), extra.end());
  return spec;
}

FlashImage Parsed(const ImageSpec& spec) {
  return FlashImage::Parse(sample::BuildFlashImage(spec), spec.variant).value();
}

TEST(Settings, ModelIdIsEveryModelIdPartitionsBytes) {
  EXPECT_EQ(Parsed(sample::DefaultImageSpec(kFullImage)).ModelId(), "QV7100-S");
  FlashImage two =
      Parsed(WithModelIds({{"modelid", Bytes("ABC"), 0, {}, {}, {}, {}},
                           {"MODELID", Bytes(std::string("DE\0F", 4)), 1, {}, {}, {}, {}}}));
  EXPECT_EQ(two.ModelId(), std::string("ABCDE\0F", 7));
  EXPECT_EQ(ModelIdText(two.ModelId()), "ABCDE");
  EXPECT_EQ(Parsed(WithModelIds({{"modelid", {}, 0, {}, {}, {}, {}}})).ModelId(), "");
}

TEST(Settings, StoringAModelIdRewritesItsDataAndLength) {
  FlashImage image = Parsed(WithModelIds({{"modelid", Bytes("OLD-ID"), 0, {}, {}, {}, {}},
                                          {"modelid", Bytes("SELECTED-FIRST"), 1, {}, {}, {}, {}},
                                          {"modelid", Bytes("ODD-SELECTOR"), 2, {}, {}, {}, {}}}));
  PartitionEdits edits(image);
  ASSERT_TRUE(edits.StoreModelId("QV-99"));
  // Only the entry that used its first length has its selector changed, to choose the new one.
  EXPECT_EQ(edits.directory().entries[8].length_selector, 0u);
  EXPECT_EQ(edits.directory().entries[9].length_selector, 0u);
  EXPECT_EQ(edits.directory().entries[10].length_selector, 2u);
  for (int index : {8, 9, 10}) {
    const DirectoryEntry& entry = edits.directory().entries[index];
    EXPECT_EQ(entry.second_length, 5u);
    EXPECT_EQ(entry.Length(), 5u);
    EXPECT_EQ(Text(edits.Data(index)), "QV-99");
  }
  ASSERT_TRUE(edits.StoreModelId(""));
  EXPECT_EQ(edits.directory().entries[8].Length(), 0u);
  EXPECT_TRUE(edits.Data(8).empty());
  // A text and its zero byte must fit into a partition; a refused one changes nothing.
  EXPECT_FALSE(edits.StoreModelId(std::string(kSlotSize, 'x')));
  EXPECT_EQ(edits.directory().entries[8].Length(), 0u);
  EXPECT_TRUE(edits.StoreModelId(std::string(kSlotSize - 1, 'x')));
  // The image itself is never changed.
  EXPECT_EQ(Text(image.Partition(8)), "OLD-ID");
}

TEST(Settings, TheSevenHttpValuesAreReadFromTheHttpCfgText) {
  FlashImage image = Parsed(sample::DefaultImageSpec(kAppImage));
  ASSERT_TRUE(image.HttpCfg());
  EXPECT_EQ(Text(*image.HttpCfg()), sample::SampleHttpCfg());
  EXPECT_EQ(ReadHttpSettings(Text(*image.HttpCfg())),
            (HttpSettings{"http://update.example.com/manual/", "http://update.example.com/auto/",
                          "app_710X.dld", "all_710X.dld", "data_710X.dld", "default_710X.dld",
                          "key_710X.dld"}));
  EXPECT_EQ(ReadHttpSettings(""), HttpSettings{});
}

TEST(Settings, WritingTheHttpValuesKeepsEveryOtherLine) {
  const std::string ini = sample::SampleHttpCfg();
  HttpSettings settings = ReadHttpSettings(ini);
  settings[IndexOf(SettingKind::kAutoApp) - 1] = "new_app.dld";
  const std::string text = WriteHttpSettings(ini, settings);
  EXPECT_NE(text.find("AutoApp=new_app.dld\r\n"), std::string::npos);
  EXPECT_NE(text.find("RetryCount=3\r\n"), std::string::npos);
  EXPECT_EQ(text.rfind("; HTTP software update settings of the box\r\n", 0), 0u);
  EXPECT_EQ(ReadHttpSettings(text), settings);
  // Unchanged values leave the text as it was.
  EXPECT_EQ(WriteHttpSettings(ini, ReadHttpSettings(ini)), ini);
  // Keys a text lacks are added, with their sections.
  EXPECT_EQ(ReadHttpSettings(WriteHttpSettings("", settings)), settings);
}

TEST(Settings, StoringHttpCfgRewritesEveryHttpCfgPartitionWithSelectorZero) {
  ImageSpec spec = sample::DefaultImageSpec(kFullImage);
  spec.partitions[6].length_selector = 1;
  FlashImage image = Parsed(spec);
  PartitionEdits edits(image);
  const int httpcfg = IndexOf(edits.directory(), "httpcfg");
  ASSERT_EQ(edits.directory().entries[httpcfg].length_selector, 1u);
  const std::string text =
      WriteHttpSettings(sample::SampleHttpCfg(), {"a", "b", "c", "d", "e", "f", "key.dld"});
  ASSERT_TRUE(edits.StoreHttpCfg(Bytes(text)));
  const DirectoryEntry& entry = edits.directory().entries[httpcfg];
  EXPECT_EQ(entry.length_selector, 0u);
  EXPECT_EQ(entry.second_length, text.size());
  EXPECT_EQ(Text(edits.Data(httpcfg)), text);
}

TEST(Settings, AnHttpCfgTooLargeForItsPartitionIsRefusedAndThePartitionKept) {
  FlashImage image = Parsed(sample::DefaultImageSpec(kAllImage));
  PartitionEdits edits(image);
  const int httpcfg = IndexOf(edits.directory(), "httpcfg");
  const std::string before = Text(edits.Data(httpcfg));
  EXPECT_FALSE(edits.StoreHttpCfg(std::vector<uint8_t>(kSlotSize + 1, 'p')));
  EXPECT_EQ(Text(edits.Data(httpcfg)), before);
  EXPECT_TRUE(edits.StoreHttpCfg(std::vector<uint8_t>(kSlotSize, 'p')));
}

TEST(Settings, WithoutAnHttpCfgPartitionNoPartitionReceivesTheText) {
  ImageSpec spec = sample::DefaultImageSpec(kAppImage);
  spec.partitions.erase(spec.partitions.begin() + 6);
  FlashImage image = Parsed(spec);
  EXPECT_FALSE(image.HttpCfg());
  PartitionEdits edits(image);
  ASSERT_TRUE(edits.StoreHttpCfg(Bytes("[Http Manual cfg]\r\nhttpManualAddr=x\r\n")));
  for (int i = 0; i < edits.directory().UsableCount(); ++i) {
    EXPECT_EQ(edits.directory().entries[i].Length(), image.directory().entries[i].Length());
    EXPECT_EQ(edits.Data(i).data(), image.Partition(i).data()) << "entry " << i;
  }
}

}  // namespace
}  // namespace qv
