#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/image_file.h"
#include "platform/result.h"

// The manifest of an extraction (manifest.json), read back for packing: where each extracted
// file lies in the image, and the SHA-256 each file had when it was written.
namespace qv {

inline constexpr char kManifestName[] = "manifest.json";

enum class PartRole {
  kPartition,
  kDirectory,
  kManufacturerBlock,
  kBootArea,
  kCarried,
  kDefaultDatabase,
  kKeyBlock,
};

struct ManifestPart {
  PartRole role;
  std::string file;
  uint64_t offset;  // in the image file
  uint64_t length;
  int index = -1;              // a partition's directory entry
  std::string partition_name;  // a partition's name
};

struct ManifestRange {
  uint64_t offset;
  uint64_t length;
};

struct Manifest {
  ImageFileKind kind;
  std::string source_name;
  Variant variant;
  uint64_t image_size;
  std::string image_sha256;
  // How its checksums did not match it when it was extracted: one entry per damaged region or
  // block; empty when they matched.
  std::vector<std::string> damage;
  std::vector<ManifestPart> parts;           // in the order they are laid into the image
  std::vector<ManifestRange> unused;         // what no part covers
  std::optional<std::string> unused_file;    // their bytes; nothing when they are all erased
  bool key_compressed = false;               // the key block is a compressed key block
  std::optional<std::string> key_data_file;  // its key data, decompressed
  std::map<std::string, std::string> files;  // every file written, and its SHA-256
};

// Reads and checks a manifest: its format, a variant of a flash image, every range inside the
// image, every file a plain name inside the extraction's directory and listed with its digest.
// The error says what is wrong.
[[nodiscard]] Result<Manifest> ReadManifest(std::string_view text);

}  // namespace qv
