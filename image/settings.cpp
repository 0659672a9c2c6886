#include "image/settings.h"

#include "platform/ini_profile.h"

namespace qv {

HttpSettings ReadHttpSettings(std::string_view ini) {
  HttpSettings settings;
  for (size_t i = 0; i < kHttpSettingKeys.size(); ++i)
    settings[i] = ReadProfileString(ini, kHttpSettingKeys[i].section, kHttpSettingKeys[i].key);
  return settings;
}

std::string WriteHttpSettings(std::string_view ini, const HttpSettings& settings) {
  std::string text(ini);
  for (size_t i = 0; i < kHttpSettingKeys.size(); ++i)
    text =
        WriteProfileString(text, kHttpSettingKeys[i].section, kHttpSettingKeys[i].key, settings[i]);
  return text;
}

std::string ModelIdText(std::string_view model_id) {
  return std::string(model_id.substr(0, model_id.find('\0')));
}

}  // namespace qv
