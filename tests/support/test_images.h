#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "image/variant.h"
#include "sample/image_builder.h"

// What tests need besides the sample images: where the records of a download file lie, and
// names for tests that run once per variant.
namespace qv::testing {

// Where each record of a download file lies, for tests that damage one.
struct RecordPlace {
  uint8_t tag;
  size_t offset;  // the tag byte
  int length_width;
  uint32_t length;  // the length field: payload + 4
  size_t payload_offset() const { return offset + 1 + length_width; }
  size_t crc_offset() const { return payload_offset() + length - 4; }
  size_t end() const { return payload_offset() + length; }
};
std::vector<RecordPlace> LocateRecords(std::span<const uint8_t> download);

// Names for tests that run once per variant: "app", "all", "full", ...
std::string VariantLabel(Variant variant);
struct VariantParamName {
  template <typename Info>
  std::string operator()(const Info& info) const {
    return VariantLabel(info.param);
  }
};

void WriteBytes(const std::string& path, std::span<const uint8_t> bytes);
std::vector<uint8_t> ReadBytes(const std::string& path);

}  // namespace qv::testing
