#pragma once

#include <array>
#include <string_view>

// The three logos a flash image carries, each a partition holding one MPEG-2 still, and the
// names of everything that belongs to each.
namespace qv {

enum class LogoKind { kBoot, kMenu, kRadio };

struct LogoNames {
  LogoKind kind;
  std::string_view partition;  // the partition the still replaces
  std::string_view picture;    // the logo picture written into the working directory
  std::string_view still;      // the still the converter leaves beside it
  // The parameters that run the still converter. The radio command names "Radio.bmp"; the
  // converter finds radio.bmp regardless of letter case.
  std::string_view command;
};

// In the order Start converts them: boot, menu, radio.
inline constexpr std::array<LogoNames, 3> kLogos{{
    {.kind = LogoKind::kBoot,
     .partition = "boot",
     .picture = "boot.bmp",
     .still = "boot.m2v",
     .command = "/c formatswitch.exe -c boot.bmp"},
    {.kind = LogoKind::kMenu,
     .partition = "menu",
     .picture = "menu.bmp",
     .still = "menu.m2v",
     .command = "/c formatswitch.exe -c menu.bmp"},
    {.kind = LogoKind::kRadio,
     .partition = "radio",
     .picture = "radio.bmp",
     .still = "radio.m2v",
     .command = "/c formatswitch.exe -c Radio.bmp"},
}};

constexpr const LogoNames& NamesOf(LogoKind kind) {
  return kLogos[static_cast<size_t>(kind)];
}

}  // namespace qv
