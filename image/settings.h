#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The settings a user edits: the box's model id (the "modelid" partition, plain text) and the
// seven HTTP software-update settings of the "httpcfg" partition, an INI text that the tool
// works on as the file httpcfg.ini.
namespace qv {

inline constexpr char kHttpCfgFileName[] = "httpcfg.ini";
inline constexpr uint32_t kModelIdMaxLength = 20;  // what its setting box accepts
inline constexpr uint32_t kHttpValueMaxLength = 255;

// The eight settings, in the order Start stores them.
enum class SettingKind {
  kModelId,
  kHttpManualAddr,
  kHttpAutoAddr,
  kAutoApp,
  kAutoAll,
  kAutoData,
  kAutoDefault,
  kAutoKey,
};
inline constexpr int kSettingCount = 8;
inline constexpr int kHttpSettingCount = 7;

inline constexpr std::array<SettingKind, kSettingCount> kSettingKinds = {
    SettingKind::kModelId,     SettingKind::kHttpManualAddr, SettingKind::kHttpAutoAddr,
    SettingKind::kAutoApp,     SettingKind::kAutoAll,        SettingKind::kAutoData,
    SettingKind::kAutoDefault, SettingKind::kAutoKey,
};

// Where an HTTP setting lives in httpcfg.ini.
struct HttpSettingKey {
  SettingKind kind;
  const char* section;
  const char* key;
};
inline constexpr std::array<HttpSettingKey, kHttpSettingCount> kHttpSettingKeys{{
    {.kind = SettingKind::kHttpManualAddr, .section = "Http Manual cfg", .key = "httpManualAddr"},
    {.kind = SettingKind::kHttpAutoAddr, .section = "Http Auto cfg", .key = "httpAutoAddr"},
    {.kind = SettingKind::kAutoApp, .section = "Http Auto filename cfg", .key = "AutoApp"},
    {.kind = SettingKind::kAutoAll, .section = "Http Auto filename cfg", .key = "AutoAll"},
    {.kind = SettingKind::kAutoData, .section = "Http Auto filename cfg", .key = "AutoData"},
    {.kind = SettingKind::kAutoDefault, .section = "Http Auto filename cfg", .key = "AutoDefault"},
    {.kind = SettingKind::kAutoKey, .section = "Http Auto filename cfg", .key = "AutoKey"},
}};

// The position of a setting in the order above (the model id is 0, the HTTP settings 1 to 7).
constexpr int IndexOf(SettingKind kind) {
  return static_cast<int>(kind);
}

// The seven HTTP settings, in the order of kHttpSettingKeys.
using HttpSettings = std::array<std::string, kHttpSettingCount>;

// The HTTP settings an httpcfg.ini text holds; a missing key reads as the empty string.
HttpSettings ReadHttpSettings(std::string_view ini);

// The text with all seven keys written with `settings`: values replaced where their keys
// stand, missing keys and sections added, every other line kept.
std::string WriteHttpSettings(std::string_view ini, const HttpSettings& settings);

// The model id as its setting box shows it: the text up to its first zero byte.
std::string ModelIdText(std::string_view model_id);

}  // namespace qv
