#include "app/job_state.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qv {
namespace {

bool AllErased(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}

TEST(JobState, ResetErasesBuffersAndClearsTextsButKeepsWhatSurvivesAJob) {
  JobState job;
  EXPECT_EQ(job.app_code.size(), 0x660000u);
  EXPECT_EQ(job.audio_firmware.size(), 0x300000u);
  EXPECT_EQ(job.video_firmware.size(), 0x300000u);
  EXPECT_EQ(job.slots.size(), 60u * 51200u);
  EXPECT_EQ(job.boot_area.size(), 0x50000u);

  job.manufacturer.Fill(0);
  job.directory.Fill(0);
  job.app_code[5] = job.audio_firmware[6] = job.video_firmware[7] = job.slots[8] = 0;
  job.boot_area[9] = 0x12;
  job.manufacturer_cfg_lines[2] = "IDENT";
  job.http_settings[6] = "key.dld";
  job.logo_commands[2] = "/c formatswitch.exe -c Radio.bmp";
  job.default_source_path = job.key_source_path = "x";
  job.working_image_path = job.merged_image_path = "y";
  job.converted_image_path = job.converted_default_path = job.converted_key_path = "z";
  job.compressed_key_path = "/w/Temp_KeyCompress.bin";
  job.choice_flags.fill(1);
  job.opened_image_flag = 1;
  job.partition_count = 142;
  const uint8_t* app_code = job.app_code.data();

  ResetJobData(job);

  EXPECT_EQ(job.manufacturer.ident_nocheck, 0xFF);
  EXPECT_EQ(job.manufacturer.regions[141].crc, 0xFFFFFFFFu);
  EXPECT_EQ(job.manufacturer.block_crc, 0xFFFFFFFFu);
  EXPECT_EQ(job.directory.entry_count, 0xFFFFFFFFu);
  EXPECT_EQ(job.directory.entries[0].name[0], 0xFF);
  EXPECT_TRUE(AllErased(job.app_code));
  EXPECT_TRUE(AllErased(job.audio_firmware));
  EXPECT_TRUE(AllErased(job.video_firmware));
  EXPECT_TRUE(AllErased(job.slots));
  EXPECT_EQ(job.app_code.data(), app_code);  // allocated once

  EXPECT_TRUE(std::all_of(job.manufacturer_cfg_lines.begin(), job.manufacturer_cfg_lines.end(),
                          [](const std::string& s) { return s.empty(); }));
  EXPECT_TRUE(job.http_settings[6].empty());
  EXPECT_TRUE(job.logo_commands[2].empty());
  EXPECT_TRUE(job.default_source_path.empty() && job.key_source_path.empty());
  EXPECT_TRUE(job.working_image_path.empty() && job.merged_image_path.empty());
  EXPECT_TRUE(job.converted_image_path.empty() && job.converted_default_path.empty() &&
              job.converted_key_path.empty());
  EXPECT_EQ(job.choice_flags, (std::array<uint8_t, 5>{0, 0, 0, 0, 0}));
  EXPECT_EQ(job.opened_image_flag, 0);

  EXPECT_EQ(job.compressed_key_path, "/w/Temp_KeyCompress.bin");
  EXPECT_EQ(job.partition_count, 142);
  EXPECT_EQ(job.boot_area[9], 0x12);
}

}  // namespace
}  // namespace qv
