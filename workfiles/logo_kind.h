#pragma once

#include <string_view>

namespace qv {

// The three logos a flash image carries, each a partition holding one MPEG-2 still.
enum class LogoKind { kBoot, kMenu, kRadio };

// The logo picture the tool writes into the working directory for a kind.
constexpr std::string_view LogoPictureName(LogoKind kind) {
  switch (kind) {
    case LogoKind::kBoot:
      return "boot.bmp";
    case LogoKind::kMenu:
      return "menu.bmp";
    case LogoKind::kRadio:
      return "radio.bmp";
  }
  return "";
}

// The command-interpreter parameters that run the still converter for a kind. The radio
// command names "Radio.bmp"; the converter finds radio.bmp regardless of letter case.
constexpr std::string_view ConverterCommand(LogoKind kind) {
  switch (kind) {
    case LogoKind::kBoot:
      return "/c formatswitch.exe -c boot.bmp";
    case LogoKind::kMenu:
      return "/c formatswitch.exe -c menu.bmp";
    case LogoKind::kRadio:
      return "/c formatswitch.exe -c Radio.bmp";
  }
  return "";
}

// The still the converter leaves for a kind, and the partition it replaces.
constexpr std::string_view LogoStillName(LogoKind kind) {
  switch (kind) {
    case LogoKind::kBoot:
      return "boot.m2v";
    case LogoKind::kMenu:
      return "menu.m2v";
    case LogoKind::kRadio:
      return "radio.m2v";
  }
  return "";
}

constexpr std::string_view LogoPartitionName(LogoKind kind) {
  switch (kind) {
    case LogoKind::kBoot:
      return "boot";
    case LogoKind::kMenu:
      return "menu";
    case LogoKind::kRadio:
      return "radio";
  }
  return "";
}

}  // namespace qv
