#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "bintodld/sector_records.h"

// The bin-to-download converter: turns a flash image into a download file, taking the
// download header and the sector list from manufacturer.cfg and a download header
// configuration file.
namespace qv::bintodld {

inline constexpr int kCfgFileLimit = 51200;  // bytes of one configuration file
inline constexpr int kSectorLimit = 81920;   // bytes of one sector
inline constexpr int kHeaderPayloadSize = 72;

// Runs the converter with its command-line arguments, without the program's own name:
// manufacturer.cfg, a download header configuration file, and the image, whose name should end
// in ".bin". Writes "<image less its last three characters>dld" beside the image and the trace
// of its work to `out`. Returns the exit status: 0 when the download file is complete, 1 for
// every failure, after which no download file is left behind.
int RunBintodld(std::span<const std::string> arguments, std::ostream& out);

// What the converter makes of `image` in memory, with the texts of manufacturer.cfg and a
// download header configuration file: the same download file, and the same trace on `out`.
// Nothing where the program would fail.
std::optional<DownloadBytes> MakeDownload(std::string_view manufacturer_cfg,
                                          std::string_view header_cfg,
                                          std::span<const uint8_t> image, std::ostream& out);

// The download file's name: the image name with its last three characters replaced by "dld";
// nothing when the file name (after the directory) is shorter than three characters.
std::optional<std::string> DownloadNameFor(const std::string& image);

// The smallest number of 1000-byte transfer units that hold `bytes` bytes.
inline constexpr uint32_t TransferUnits(uint32_t bytes) {
  return (bytes + 999) / 1000;
}

}  // namespace qv::bintodld
