#include "tests/support/test_images.h"

#include "download/record_format.h"
#include "platform/file.h"
#include "platform/little_endian.h"

namespace qv::testing {

std::vector<RecordPlace> LocateRecords(std::span<const uint8_t> download) {
  std::vector<RecordPlace> places;
  size_t at = 0;
  while (at < download.size()) {
    const uint8_t tag = download[at];
    const RecordFormat* format = FormatOfTag(tag);
    if (!format || at + 1 + format->length_width > download.size()) break;
    const int width = format->length_width;
    RecordPlace place{tag, at, width, static_cast<uint32_t>(ReadLe(&download[at + 1], width))};
    if (place.end() > download.size()) break;
    places.push_back(place);
    at = place.end();
  }
  return places;
}

std::string VariantLabel(Variant variant) {
  switch (variant) {
    case kKeyDownload:
      return "key";
    case kDefaultDownload:
      return "default";
    case kAppImage:
      return "app";
    case kAllImage:
      return "all";
    case kFullImage:
      return "full";
    default:
      return "unrecognised";
  }
}

void WriteBytes(const std::string& path, std::span<const uint8_t> bytes) {
  WriteWholeFile(path, bytes);
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
  return ReadWholeFile(path);
}

}  // namespace qv::testing
