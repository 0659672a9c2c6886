#include "image/settings.h"

#include <algorithm>

#include "app/job_state.h"
#include "image/variant.h"
#include "platform/file.h"
#include "platform/ini_profile.h"

namespace qv {

namespace {

std::string HttpCfgPath(const JobState& job) {
  return job.working_directory + kHttpCfgFileName;
}

bool StoreModelId(JobState& job, std::string_view text) {
  if (text.size() + 1 > kSlotSize) return false;
  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    DirectoryEntry& entry = job.directory.entries[i];
    if (!entry.NameIs("modelid")) continue;
    std::span<uint8_t, kSlotSize> slot = job.Slot(i);
    std::fill(slot.begin(), slot.end(), 0xFF);
    // The second length takes the new size and the selector stays, except that an entry
    // which used its first length is switched to the second: it would keep the old size over
    // the new text.
    if (entry.length_selector == 1) entry.length_selector = 0;
    entry.second_length = static_cast<uint32_t>(text.size());
    std::copy(text.begin(), text.end(), slot.begin());
    slot[text.size()] = 0;
  }
  return true;
}

bool StoreHttpSetting(JobState& job, int kind, std::string_view text) {
  job.http_settings[kind - 1] = std::string(text);
  const std::string path = HttpCfgPath(job);
  if (!FileExists(path)) ExtractHttpCfg(job);

  std::string ini = ReadProfileText(path);
  for (const HttpSettingKey& setting : kHttpSettingKeys) {
    ini =
        WriteProfileString(ini, setting.section, setting.key, job.http_settings[setting.kind - 1]);
  }
  WriteProfileText(path, ini);

  // The partition receives the file as it now stands on disk.
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  if (bytes.size() > kSlotSize) return false;
  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    DirectoryEntry& entry = job.directory.entries[i];
    if (!entry.NameIs("httpcfg")) continue;
    entry.length_selector = 0;
    entry.second_length = static_cast<uint32_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), job.Slot(i).begin());
  }
  return true;
}

}  // namespace

std::string ReadModelId(const JobState& job, const std::string& path) {
  const VariantLayout* layout = LayoutOf(VariantFromPartitionCount(job.partition_count));
  uint32_t base = layout ? layout->area_base : 0;
  std::string text;
  File file = File::Open(path, File::Mode::kRead);
  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = job.directory.entries[i];
    if (!entry.NameIs("modelid")) continue;
    std::vector<uint8_t> bytes(std::min(entry.Length(), kSlotSize));
    bytes.resize(file.ReadAt(int64_t{base} + entry.offset, bytes));
    text.append(bytes.begin(), bytes.end());
  }
  return text;
}

void ExtractHttpCfg(const JobState& job) {
  for (int i = 0; i < job.directory.UsableCount(); ++i) {
    const DirectoryEntry& entry = job.directory.entries[i];
    if (!entry.NameIs("httpcfg")) continue;
    std::span<const uint8_t> slot = job.Slot(i);
    WriteWholeFile(HttpCfgPath(job), slot.first(std::min(entry.Length(), kSlotSize)));
  }
}

void LoadHttpSettings(JobState& job) {
  std::string ini = ReadProfileText(HttpCfgPath(job));
  for (const HttpSettingKey& setting : kHttpSettingKeys) {
    job.http_settings[setting.kind - 1] = ReadProfileString(ini, setting.section, setting.key);
  }
}

bool StoreSetting(JobState& job, int kind, std::string_view text) {
  if (kind == 0) return StoreModelId(job, text);
  if (kind >= 1 && kind <= kHttpSettingCount) return StoreHttpSetting(job, kind, text);
  return false;
}

}  // namespace qv
