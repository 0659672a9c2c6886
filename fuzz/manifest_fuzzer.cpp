// The reader of an extraction's manifest.json (ReadManifest), on any bytes as its text. A
// manifest it accepts is one pack may act on at once: pack lays every part's file at the part's
// offset in an image of image_size bytes, copies the unused file over the unused ranges, and
// reads every listed file from the extraction's directory by its name. So an accepted manifest
// has
//   - a variant of a flash image, and an image size that variant's files can have;
//   - every part inside the image (a partition inside the partition area and the directory),
//     its file a plain name listed among the files;
//   - every unused range inside the image, the unused file and the key data file plain names
//     listed among the files;
//   - every listed file a plain name, with a SHA-256 of 64 lower-case hex digits.
// A refused manifest gets an error that names the manifest and says what is wrong.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/manifest.h"
#include "download/record_format.h"
#include "image/partition_directory.h"
#include "image/variant.h"

namespace {

using namespace qv;

// A name that stays inside the extraction's directory when appended to it.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

bool IsListed(const Manifest& manifest, const std::string& name) {
  return IsPlainName(name) && manifest.files.contains(name);
}

bool Inside(uint64_t offset, uint64_t length, uint64_t size) {
  return offset <= size && length <= size - offset;
}

void Check(const Manifest& manifest) {
  const VariantLayout* layout = LayoutOf(manifest.variant);
  if (!layout) __builtin_trap();
  if (manifest.image_size < layout->file_size ||
      manifest.image_size > uint64_t{layout->file_size} + kRecordLimit) {
    __builtin_trap();
  }
  for (const auto& [name, digest] : manifest.files) {
    if (!IsPlainName(name) || digest.size() != 64 ||
        digest.find_first_not_of("0123456789abcdef") != std::string::npos) {
      __builtin_trap();
    }
  }
  for (const ManifestPart& part : manifest.parts) {
    if (!Inside(part.offset, part.length, manifest.image_size) || !IsListed(manifest, part.file))
      __builtin_trap();
    if (part.role == PartRole::kPartition &&
        (part.index < 0 || part.index >= kMaxEntries || part.offset < layout->area_base)) {
      __builtin_trap();
    }
  }
  for (const ManifestRange& range : manifest.unused) {
    if (!Inside(range.offset, range.length, manifest.image_size)) __builtin_trap();
  }
  if (manifest.unused_file && !IsListed(manifest, *manifest.unused_file)) __builtin_trap();
  if (manifest.key_data_file && !IsListed(manifest, *manifest.key_data_file)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  Result<Manifest> manifest = ReadManifest(text);
  if (manifest) {
    Check(*manifest);
    return 0;
  }
  if (manifest.error().field != "manifest" || !manifest.error().text.starts_with("manifest.json"))
    __builtin_trap();
  return 0;
}
