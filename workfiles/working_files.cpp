#include "workfiles/working_files.h"

#include <sys/stat.h>

#include <filesystem>
#include <span>
#include <string_view>

#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/memory.h"
#include "workfiles/embedded_programs.h"
#include "workfiles/header_configs.h"
#include "workfiles/parameter_files.h"

namespace qv {

namespace {

// Raw files are written as far as possible: one that cannot be written is simply missing
// afterwards, which the check of the whole set reports.
void WriteRaw(const std::string& path, std::span<const uint8_t> bytes, bool program) {
  try {
    WriteWholeFile(path, bytes);
    if (program) ::chmod(path.c_str(), 0755);
  } catch (const IoError&) {
  }
}

}  // namespace

std::string ManufacturerCfgText(
    const std::array<std::string, kManufacturerCfgLineCount>& manufacturer_cfg) {
  std::string text;
  for (const std::string& line : manufacturer_cfg)
    text += line + "\r\n";
  return text;
}

bool WriteWorkingFiles(const std::string& directory,
                       const std::array<std::string, kManufacturerCfgLineCount>& manufacturer_cfg) {
  WriteWholeFile(directory + kManufacturerCfg, BytesOf(ManufacturerCfgText(manufacturer_cfg)));
  for (const HeaderConfig& config : HeaderConfigs())
    WriteHeaderConfig(config, directory + std::string(config.name));

  WriteRaw(directory + kNtscPar, BytesOf(kNtscParContent), false);
  WriteRaw(directory + kPalPar, BytesOf(kPalParContent), false);
  // The programs are megabytes of the tool's own file that it needs only here.
  WriteRaw(directory + kBinToDldProgram, BinToDldProgramBytes(), true);
  WriteRaw(directory + kFormatSwitchProgram, FormatSwitchProgramBytes(), true);
  ReleaseProgramPages(BinToDldProgramBytes());
  ReleaseProgramPages(FormatSwitchProgramBytes());

  // Each of the set must now be there as a file (a directory of that name is no working file).
  for (const char* name : kWorkingFileSet) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(directory + name, error)) return false;
  }
  return true;
}

}  // namespace qv
