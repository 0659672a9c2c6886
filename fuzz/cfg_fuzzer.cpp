// The converter's configuration files: manufacturer.cfg and a download header configuration.
// The input up to its first zero byte is manufacturer.cfg, the rest the configuration file.
// Both go through the parser as the converter feeds them, then through the whole converter
// with a small flash image, which either writes a complete download file or fails leaving
// none.
#include <cstddef>
#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bintodld/cfg_parser.h"
#include "bintodld/converter.h"
#include "download/crc32.h"
#include "download/download_file.h"
#include "fuzz/fuzz_support.h"
#include "platform/file.h"
#include "platform/little_endian.h"

namespace {

using namespace qv;

// A 256 KiB image of varied bytes: room for a few sectors of the sizes a configuration names.
const std::vector<uint8_t>& SmallImage() {
  static const std::vector<uint8_t> image = [] {
    std::vector<uint8_t> bytes(0x40000);
    uint32_t state = 12345;
    for (size_t i = 0; i < bytes.size(); ++i) {
      state = state * 1103515245 + 12345;
      bytes[i] = i % 4096 < 2048 ? 0xFF : static_cast<uint8_t>(state >> 24);
    }
    return bytes;
  }();
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  size_t split = input.find('\0');
  std::string_view manufacturer = input.substr(0, split);
  std::string_view config = split == std::string_view::npos ? "" : input.substr(split + 1);

  std::ostringstream trace;
  bintodld::CfgParser parser;
  bintodld::ParseCfgText(parser, manufacturer, trace);
  bintodld::BeginCfgFile(parser, bintodld::CfgFile::kHeader);
  bintodld::ParseCfgText(parser, config, trace);

  // The whole converter over the same two files.
  const std::string& directory = fuzz::ScratchDirectory();
  const std::string image = directory + "box_Merge.bin";
  const std::string download = directory + "box_Merge.dld";
  static bool image_written = false;
  if (!image_written) WriteWholeFile(image, SmallImage());
  image_written = true;
  WriteWholeFile(directory + "manufacturer.cfg", BytesOf(manufacturer));
  WriteWholeFile(directory + "header.cfg", BytesOf(config));
  const std::string arguments[] = {directory + "manufacturer.cfg", directory + "header.cfg", image};
  int status = bintodld::RunBintodld(arguments, trace);

  // A download file exists exactly when the converter reports success, and then its header
  // gives its true length and a true CRC.
  if ((status == 0) != FileExists(download)) __builtin_trap();
  if (status == 0) {
    std::vector<uint8_t> written = ReadWholeFile(download);
    if (written.size() < kHeaderRecordSize ||
        ReadLe24(&written[kTotalSizeOffset]) != written.size() ||
        Crc32(&written[3], kHeaderPayloadSize) != ReadLe32(&written[kHeaderCrcOffset])) {
      __builtin_trap();
    }
  }
  RemoveFile(download);
  return 0;
}
