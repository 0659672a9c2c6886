#pragma once

#include <span>
#include <string>
#include <string_view>

#include "image/variant.h"

// The three download header configuration files that the tool writes into its working
// directory for the bin-to-download converter: one per image variant, each holding the rest
// of the download header (type, partition count, total size placeholder, project select,
// compress and encrypt flags, key) and the list of flash sectors the download carries.
namespace qv {

struct HeaderConfig {
  std::string_view name;  // "app_710X.cfg", "all_710X.cfg" or "flash_710X.cfg"
  std::string_view text;  // the file's bytes: every line followed by CR LF
  int line_count;
};

// The three configurations in working-file order: app, all, flash.
std::span<const HeaderConfig> HeaderConfigs();

// The configuration the converter is given for an image variant: app_710X.cfg for 5,
// all_710X.cfg for 6, flash_710X.cfg for 7; nullptr for any other variant.
const HeaderConfig* HeaderConfigFor(Variant variant);

// Writes the configuration to `path`, replacing any earlier file. Raises IoError.
void WriteHeaderConfig(const HeaderConfig& config, const std::string& path);

}  // namespace qv
