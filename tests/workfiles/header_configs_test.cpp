#include "workfiles/header_configs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/variant.h"
#include "platform/file.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_images.h"

namespace qv {
namespace {

// The lines of a text whose every line ends in CR LF.
std::vector<std::string> Lines(std::string_view text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find("\r\n", at);
    if (end == std::string_view::npos) break;
    lines.emplace_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

struct Expected {
  Variant variant;
  std::string name;
  int lines;
  size_t bytes;
  std::string type;
  std::string count;
  std::string total;
};

const Expected kExpected[] = {
    {kAppImage, "app_710X.cfg", 462, 11339, "8", "102", "0x660000"},
    {kAllImage, "all_710X.cfg", 592, 14427, "9", "130", "0x7B0000"},
    {kFullImage, "flash_710X.cfg", 644, 15696, "11", "142", "0x800000"},
};

TEST(HeaderConfigs, ExactSizesWithCrLfLineEnds) {
  ASSERT_EQ(HeaderConfigs().size(), 3u);
  testing::TempDir dir;
  for (const Expected& e : kExpected) {
    const HeaderConfig* config = HeaderConfigFor(e.variant);
    ASSERT_NE(config, nullptr);
    EXPECT_EQ(config->name, e.name);
    EXPECT_EQ(config->text.size(), e.bytes) << e.name;
    EXPECT_EQ(config->line_count, e.lines) << e.name;
    EXPECT_EQ(Lines(config->text).size(), static_cast<size_t>(e.lines)) << e.name;
    EXPECT_TRUE(config->text.ends_with("\r\n"));
    // CR and LF only as line ends; 7-bit text.
    EXPECT_EQ(std::count(config->text.begin(), config->text.end(), '\r'), e.lines);
    EXPECT_EQ(std::count(config->text.begin(), config->text.end(), '\n'), e.lines);
    EXPECT_TRUE(std::all_of(config->text.begin(), config->text.end(),
                            [](char c) { return (c & 0x80) == 0; }));

    WriteHeaderConfig(*config, dir.File(e.name));
    std::vector<uint8_t> written = testing::ReadBytes(dir.File(e.name));
    EXPECT_EQ(std::string(written.begin(), written.end()), config->text);
  }
  EXPECT_EQ(HeaderConfigFor(kKeyDownload), nullptr);
}

TEST(HeaderConfigs, HeaderSectionLineForLine) {
  for (const Expected& e : kExpected) {
    std::vector<std::string> lines = Lines(HeaderConfigFor(e.variant)->text);
    std::vector<std::string> head(lines.begin(), lines.begin() + 13);
    EXPECT_EQ(head, (std::vector<std::string>{
                        "[DownloadHeader_Data]",
                        "",
                        "DOWNLOAD_TYPE\t \t= " + e.type + "\t\t\t1",
                        "PARTITION_COUNT \t= " + e.count + "                   1",
                        "TRANS_TOTAL_SIZE        = " + e.total + "              3",
                        "STB_PROJECT_SELECT \t= 2                     1",
                        "COMPRESS_FLAG\t\t= 1                     1",
                        "ENCRYPT_FLAG \t\t= 1                     1",
                        "ENCRYPT_KEY \t\t= 0X5D3A96C1E07B428F    8",
                        "",
                        "",
                        "[Flash_Download_Configuration]",
                        "",
                    }))
        << e.name;
  }
}

// The sector list covers the variant's flash range sector by sector, with memory type 1 for
// the application area, and groups of entries apart by one empty line or three to five.
TEST(HeaderConfigs, SectorListFollowsTheFlashMap) {
  for (const Expected& e : kExpected) {
    SCOPED_TRACE(e.name);
    std::vector<std::string> lines = Lines(HeaderConfigFor(e.variant)->text);
    std::vector<int> keys;
    size_t at = 13;
    int n = 0;
    while (at < lines.size()) {
      ASSERT_LE(at + 3, lines.size());
      uint32_t flash = BlockStart(e.variant, n);
      const int key = std::stoi(lines[at + 1].substr(3));
      keys.push_back(key);
      char expected[3][64];
      std::snprintf(expected[0], 64, "MEMORY_TYPE \t\t= %d\t\t\t\t1",
                    flash >= 0x050000 && flash < 0x6B0000 ? 1 : 0);
      std::snprintf(expected[1], 64, "BLK%d_START \t\t= 0x%08X         \t\t4", key,
                    0xA0000000 + flash);
      std::snprintf(expected[2], 64, "BLK%d_SIZE \t\t= 0X%06X              \t3", key,
                    BlockSize(e.variant, n));
      for (int k = 0; k < 3; ++k)
        EXPECT_EQ(lines[at + k], expected[k]) << "entry " << n;
      at += 3;
      size_t empty = 0;
      while (at < lines.size() && lines[at].empty())
        ++empty, ++at;
      EXPECT_TRUE(empty == 1 || (empty >= 3 && empty <= 5)) << "after entry " << n;
      ++n;
    }
    EXPECT_EQ(n, BlockCount(e.variant));

    std::vector<int> expected_keys;
    if (e.variant == kFullImage) expected_keys = {0, 1, 2, 3, 0, 1, 2, 3, 0, 1, 2, 2};
    for (int key = 1; key <= (e.variant == kAppImage ? 102 : 130); ++key)
      expected_keys.push_back(key);
    EXPECT_EQ(keys, expected_keys);
  }
}

}  // namespace
}  // namespace qv
