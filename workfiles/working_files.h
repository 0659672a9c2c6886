#pragma once

#include <array>
#include <string>

#include "image/manufacturer_block.h"

// The files the tool keeps in its working directory during a job, and the working-file set
// that opening an image writes there: the two converter programs with their configuration
// and parameter files, and manufacturer.cfg made from the opened image.
namespace qv {

inline constexpr char kManufacturerCfg[] = "manufacturer.cfg";
inline constexpr char kAppCfg[] = "app_710X.cfg";
inline constexpr char kAllCfg[] = "all_710X.cfg";
inline constexpr char kFlashCfg[] = "flash_710X.cfg";
inline constexpr char kNtscPar[] = "NTSC.par";
inline constexpr char kPalPar[] = "PAL.par";
inline constexpr char kBinToDldProgram[] = "bintodld.exe";
inline constexpr char kFormatSwitchProgram[] = "formatswitch.exe";

inline constexpr char kConvertedDefault[] = "Temp_DefDldToBin.bin";
inline constexpr char kConvertedKey[] = "Temp_KeyToBin.bin";

// The working-file set, in the order it is written and checked.
inline constexpr std::array<const char*, 8> kWorkingFileSet = {
    kManufacturerCfg, kAppCfg, kAllCfg,          kFlashCfg,
    kNtscPar,         kPalPar, kBinToDldProgram, kFormatSwitchProgram};

// manufacturer.cfg as the converter reads it: its nine lines, each followed by CR LF.
std::string ManufacturerCfgText(
    const std::array<std::string, kManufacturerCfgLineCount>& manufacturer_cfg);

// Writes the working-file set into `directory` (with its trailing separator): the text files
// (manufacturer.cfg from its nine lines and the three header configurations, CR LF lines)
// raise IoError when they cannot be written; the parameter files and the converter programs
// (with their run permission) are written as far as possible. True when all eight files exist
// afterwards.
bool WriteWorkingFiles(const std::string& directory,
                       const std::array<std::string, kManufacturerCfgLineCount>& manufacturer_cfg);

}  // namespace qv
