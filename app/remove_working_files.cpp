#include "app/remove_working_files.h"

#include <string>
#include <vector>

#include "app/job_state.h"
#include "image/settings.h"
#include "platform/file.h"
#include "workfiles/working_files.h"

namespace qv {

void RemoveWorkingFiles(const JobState& job) {
  std::vector<std::string> doomed;
  if (job.opened_image_flag == 0 && job.merged_image_written)
    doomed.push_back(job.merged_image_path);
  for (const std::string* path : {&job.converted_image_path, &job.converted_default_path,
                                  &job.converted_key_path, &job.compressed_key_path}) {
    doomed.push_back(*path);
  }
  for (const char* name : kWorkingFileSet)
    doomed.push_back(job.working_directory + name);
  doomed.push_back(job.working_directory + kHttpCfgFileName);
  for (size_t i = 0; i < kLogoPictures.size(); ++i) {
    doomed.push_back(job.working_directory + kLogoPictures[i]);
    doomed.push_back(job.working_directory + kLogoStills[i]);
  }

  for (const std::string& path : doomed) {
    if (path.empty() || !FileExists(path)) continue;
    bool picked = false;
    for (const std::string& keep : job.picked_files)
      picked = picked || IsSameFile(path, keep);
    if (!picked) RemoveFile(path);
  }
}

}  // namespace qv
