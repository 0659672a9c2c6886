#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/manufacturer_block.h"
#include "image/partition_directory.h"

namespace qv {

inline constexpr uint32_t kAppCodeCapacity = 0x660000;   // the "appcode" partition
inline constexpr uint32_t kFirmwareCapacity = 0x300000;  // "fw_audio" and "fw_video"

// The choice flags, in their order in the job state.
enum ChoiceFlag {
  kBootChosen,
  kMenuChosen,
  kRadioChosen,
  kDefaultChosen,
  kKeyChosen,
  kChoiceCount
};

// The seven HTTP update settings, in the order of their kinds 1 to 7.
inline constexpr int kHttpSettingCount = 7;

// The one record of a job. The readers fill it at open, the choosers and Start change it,
// the job reset clears it. One instance lives for the whole run; its ~16 MB of buffers are
// allocated once, by the constructor.
struct JobState {
  JobState();

  ManufacturerBlock manufacturer;
  PartitionDirectory directory;
  std::vector<uint8_t> app_code;        // 0x660000 bytes
  std::vector<uint8_t> audio_firmware;  // 0x300000 bytes
  std::vector<uint8_t> video_firmware;  // 0x300000 bytes
  std::vector<uint8_t> slots;           // 60 slots of 51,200 bytes; slot i for entry i
  std::vector<uint8_t> boot_area;       // 0x50000 bytes: a full image's boot area

  std::array<std::string, kManufacturerCfgLineCount> manufacturer_cfg_lines;
  std::array<std::string, kHttpSettingCount> http_settings;
  std::array<std::string, 3> logo_commands;  // boot, menu, radio
  std::string default_source_path;
  std::string key_source_path;
  std::string working_image_path;
  std::string merged_image_path;
  std::string converted_image_path;    // Temp_DldToBin.bin
  std::string converted_default_path;  // Temp_DefDldToBin.bin
  std::string converted_key_path;      // Temp_KeyToBin.bin
  std::string compressed_key_path;     // Temp_KeyCompress.bin: survives the reset

  std::array<uint8_t, kChoiceCount> choice_flags;
  uint8_t opened_image_flag;  // 1: a flash image was opened; 0: a download file
  int32_t partition_count;    // 102, 130 or 142: the job's variant; survives the reset

  // The directory the working files go to, with its trailing separator. Set by the front
  // end at start-up; not part of the reset.
  std::string working_directory;

  // The files the user picked in this job (the opened file, chosen pictures and sources).
  // They are never removed as working files, whatever their names.
  std::vector<std::string> picked_files;

  // Set when a Start of this job has begun writing the merged image. Only then is the merged
  // image of a job opened from a download file this job's working file: a file of that name
  // that this job never wrote (the product of an earlier build of a flash image of the same
  // name) is not removed with the working files.
  bool merged_image_written = false;

  std::span<uint8_t, kSlotSize> Slot(int index) {
    return std::span<uint8_t, kSlotSize>(slots.data() + static_cast<size_t>(index) * kSlotSize,
                                         kSlotSize);
  }
  std::span<const uint8_t, kSlotSize> Slot(int index) const {
    return std::span<const uint8_t, kSlotSize>(
        slots.data() + static_cast<size_t>(index) * kSlotSize, kSlotSize);
  }
};

// The data part of the job reset: buffers to 0xFF, texts emptied, flags cleared. The
// compressed key path, the partition count and the boot area are left as they are.
void ResetJobData(JobState& job);

}  // namespace qv
