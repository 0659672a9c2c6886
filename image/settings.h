#pragma once

#include <array>
#include <string>
#include <string_view>

// The two small partitions whose contents the user edits: "modelid", the box's model id as
// plain text, and "httpcfg", an INI text with the HTTP software-update settings, which the
// tool works on as the file httpcfg.ini in the working directory.
namespace qv {

struct JobState;

inline constexpr char kHttpCfgFileName[] = "httpcfg.ini";
inline constexpr uint32_t kModelIdMaxLength = 20;  // what its setting box accepts
inline constexpr uint32_t kHttpValueMaxLength = 255;

// The seven HTTP settings, kinds 1 to 7, with their section and key in httpcfg.ini.
struct HttpSettingKey {
  int kind;
  const char* section;
  const char* key;
};
inline constexpr std::array<HttpSettingKey, 7> kHttpSettingKeys{{
    {1, "Http Manual cfg", "httpManualAddr"},
    {2, "Http Auto cfg", "httpAutoAddr"},
    {3, "Http Auto filename cfg", "AutoApp"},
    {4, "Http Auto filename cfg", "AutoAll"},
    {5, "Http Auto filename cfg", "AutoData"},
    {6, "Http Auto filename cfg", "AutoDefault"},
    {7, "Http Auto filename cfg", "AutoKey"},
}};

// The model id: the bytes of every "modelid" partition of the working image, one after the
// other (an edit shows the text up to its first zero byte).
std::string ReadModelId(const JobState& job, const std::string& path);

// Writes the data of the "httpcfg" partition (the last one, when there are several) to
// httpcfg.ini in the working directory; writes nothing without such a partition.
void ExtractHttpCfg(const JobState& job);

// Reads the seven HTTP settings from httpcfg.ini into the job; missing keys read as empty.
void LoadHttpSettings(JobState& job);

// Stores one edited value. Kind 0: the model id into every "modelid" partition. Kinds 1 to 7:
// the HTTP setting into httpcfg.ini (extracted again first when it is gone), whose whole text
// then becomes the data of every "httpcfg" partition. False, changing no partition, when the
// value cannot be stored: a model id or an httpcfg.ini larger than a partition slot.
bool StoreSetting(JobState& job, int kind, std::string_view text);

}  // namespace qv
