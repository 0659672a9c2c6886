#include "app/job_state.h"

#include <algorithm>

#include "image/variant.h"

namespace qv {

JobState::JobState()
    : app_code(kAppCodeCapacity, 0xFF),
      audio_firmware(kFirmwareCapacity, 0xFF),
      video_firmware(kFirmwareCapacity, 0xFF),
      slots(size_t{kMaxEntries} * kSlotSize, 0xFF),
      boot_area(kBootAreaSize, 0xFF),
      choice_flags{},
      opened_image_flag(0),
      partition_count(0) {
  ResetJobData(*this);
}

void ResetJobData(JobState& job) {
  job.manufacturer.Fill(0xFF);
  job.directory.Fill(0xFF);
  std::fill(job.app_code.begin(), job.app_code.end(), 0xFF);
  std::fill(job.audio_firmware.begin(), job.audio_firmware.end(), 0xFF);
  std::fill(job.video_firmware.begin(), job.video_firmware.end(), 0xFF);
  std::fill(job.slots.begin(), job.slots.end(), 0xFF);

  for (std::string& line : job.manufacturer_cfg_lines)
    line.clear();
  for (std::string& setting : job.http_settings)
    setting.clear();

  job.choice_flags.fill(0);
  job.opened_image_flag = 0;

  for (std::string& command : job.logo_commands)
    command.clear();
  job.default_source_path.clear();
  job.key_source_path.clear();
  job.working_image_path.clear();
  job.merged_image_path.clear();
  job.converted_image_path.clear();
  job.converted_default_path.clear();
  job.converted_key_path.clear();
  job.picked_files.clear();
  job.merged_image_written = false;
}

}  // namespace qv
