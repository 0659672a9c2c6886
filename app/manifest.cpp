#include "app/manifest.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "download/record_format.h"
#include "image/manufacturer_block.h"
#include "image/partition_directory.h"

namespace qv {

namespace {

using nlohmann::json;

// A name that stays inside the extraction's directory when put after it.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// The manifest as it is read: each lookup names what is missing or of the wrong kind.
class Reader {
 public:
  explicit Reader(const json& manifest) : manifest_(manifest) {}

  const json& Object(const json& in, const char* key, const std::string& where) {
    if (!in.is_object() || !in.contains(key) || !in[key].is_object())
      throw Problem{where + "." + key + " is missing or not an object"};
    return in[key];
  }
  const json& Array(const json& in, const char* key, const std::string& where) {
    if (!in.is_object() || !in.contains(key) || !in[key].is_array())
      throw Problem{where + "." + key + " is missing or not a list"};
    return in[key];
  }
  uint64_t Number(const json& in, const char* key, const std::string& where) {
    if (!in.is_object() || !in.contains(key) || !in[key].is_number_unsigned())
      throw Problem{where + "." + key + " is missing or not a whole number"};
    return in[key].get<uint64_t>();
  }
  std::string Text(const json& in, const char* key, const std::string& where) {
    if (!in.is_object() || !in.contains(key) || !in[key].is_string())
      throw Problem{where + "." + key + " is missing or not a text"};
    return in[key].get<std::string>();
  }
  // A file of the extraction: a plain name, listed among the files with its digest.
  std::string File(const json& in, const char* key, const std::string& where) {
    std::string name = Text(in, key, where);
    if (!IsPlainName(name))
      throw Problem{where + "." + key + " \"" + name + "\" is not a plain file name"};
    if (!files_.contains(name)) throw Problem{where + "." + key + " " + name + " is not listed"};
    return name;
  }

  void ReadFiles() {
    const json& files = Object(manifest_, "files", "manifest");
    for (const auto& [name, digest] : files.items()) {
      // Pack reads every listed file from the extraction's directory by this name.
      if (!IsPlainName(name))
        throw Problem{"manifest.files lists \"" + name + "\", which is not a plain file name"};
      if (!digest.is_string() || digest.get<std::string>().size() != 64 ||
          digest.get<std::string>().find_first_not_of("0123456789abcdef") != std::string::npos) {
        throw Problem{"the digest of " + name + " is not a SHA-256"};
      }
      files_[name] = digest.get<std::string>();
    }
  }
  const std::map<std::string, std::string>& files() const { return files_; }

  struct Problem {
    std::string text;
  };

 private:
  const json& manifest_;
  std::map<std::string, std::string> files_;
};

void CheckRange(uint64_t offset, uint64_t length, uint64_t image_size, const std::string& what) {
  if (offset > image_size || length > image_size - offset)
    throw Reader::Problem{what + " reaches past the image's " + std::to_string(image_size) +
                          " bytes"};
}

Manifest ReadChecked(const json& document) {
  Reader reader(document);
  if (reader.Text(document, "format", "manifest") != "quorvane-extract 1")
    throw Reader::Problem{"manifest.format is not \"quorvane-extract 1\""};
  reader.ReadFiles();
  Manifest manifest;
  manifest.files = reader.files();

  const json& source = reader.Object(document, "source", "manifest");
  const std::string kind = reader.Text(source, "kind", "source");
  if (kind != "flash" && kind != "download")
    throw Reader::Problem{"source.kind is neither \"flash\" nor \"download\""};
  manifest.kind = kind == "flash" ? ImageFileKind::kFlashImage : ImageFileKind::kDownloadFile;
  manifest.source_name = reader.Text(source, "name", "source");

  const VariantLayout* layout = LayoutOf(static_cast<Variant>(
      std::min<uint64_t>(reader.Number(document, "variant", "manifest"), 255)));
  if (!layout) throw Reader::Problem{"manifest.variant is not 5, 6 or 7"};
  manifest.variant = layout->variant;
  const json& image = reader.Object(document, "image", "manifest");
  manifest.image_size = reader.Number(image, "size", "image");
  // A converted download may reach a decompressed block's length past the variant's size.
  if (manifest.image_size < layout->file_size ||
      manifest.image_size > uint64_t{layout->file_size} + kRecordLimit) {
    throw Reader::Problem{"image.size " + std::to_string(manifest.image_size) +
                          " does not fit variant " + std::to_string(layout->variant)};
  }
  manifest.image_sha256 = reader.Text(image, "sha256", "image");

  auto add = [&](PartRole role, const json& in, const std::string& where, uint64_t offset,
                 uint64_t length) {
    CheckRange(offset, length, manifest.image_size, where);
    manifest.parts.push_back({role, reader.File(in, "file", where), offset, length, -1, ""});
  };
  const json& directory = reader.Object(document, "directory", "manifest");
  for (const json& entry : reader.Array(directory, "entries", "directory")) {
    const std::string where = "directory.entries[" + std::to_string(manifest.parts.size()) + "]";
    const uint64_t index = reader.Number(entry, "index", where);
    if (index >= kMaxEntries) throw Reader::Problem{where + ".index is past the directory"};
    // The offset counts from the partition area; bounded first, so adding the area's place
    // cannot wrap round to an offset inside the image.
    const uint64_t offset = reader.Number(entry, "offset", where);
    CheckRange(offset, 0, manifest.image_size, where);
    add(PartRole::kPartition, entry, where, uint64_t{layout->area_base} + offset,
        reader.Number(entry, "length", where));
    manifest.parts.back().index = static_cast<int>(index);
    manifest.parts.back().partition_name = reader.Text(entry, "name", where);
  }
  add(PartRole::kDirectory, directory, "directory", layout->directory_offset, kDirectorySize);
  const json& manufacturer = reader.Object(document, "manufacturer", "manifest");
  add(PartRole::kManufacturerBlock, manufacturer, "manufacturer", layout->manufacturer_offset,
      kManufacturerBlockSize);
  for (const json& entry : reader.Array(manufacturer, "damage", "manufacturer")) {
    if (!entry.is_string()) throw Reader::Problem{"manufacturer.damage holds a non-text entry"};
    manifest.damage.push_back(entry.get<std::string>());
  }
  if (document.contains("boot_area"))
    add(PartRole::kBootArea, document["boot_area"], "boot_area", 0, kBootAreaSize);
  for (const json& range : reader.Array(document, "carried", "manifest")) {
    add(PartRole::kCarried, range, "carried", reader.Number(range, "offset", "carried"),
        reader.Number(range, "length", "carried"));
  }
  if (document.contains("default_database")) {
    add(PartRole::kDefaultDatabase, document["default_database"], "default_database",
        layout->default_region, kDefaultRegionSize);
  }
  if (document.contains("key_block")) {
    const json& key = document["key_block"];
    add(PartRole::kKeyBlock, key, "key_block", layout->key_region, kKeyRegionSize);
    manifest.key_compressed = key.contains("compressed") && key["compressed"] == true;
    if (key.contains("data")) manifest.key_data_file = reader.File(key, "data", "key_block");
  }

  const json& unused = reader.Object(document, "unused", "manifest");
  for (const json& range : reader.Array(unused, "ranges", "unused")) {
    const uint64_t offset = reader.Number(range, "offset", "unused");
    const uint64_t length = reader.Number(range, "length", "unused");
    CheckRange(offset, length, manifest.image_size, "an unused range");
    manifest.unused.push_back({offset, length});
  }
  if (unused.contains("file") && !unused["file"].is_null())
    manifest.unused_file = reader.File(unused, "file", "unused");
  return manifest;
}

}  // namespace

Result<Manifest> ReadManifest(std::string_view text) {
  const json document = json::parse(text, nullptr, false);
  if (document.is_discarded()) return Fail("manifest", -1, "manifest.json is not JSON");
  try {
    return ReadChecked(document);
  } catch (const Reader::Problem& problem) {
    return Fail("manifest", -1, "manifest.json: " + problem.text);
  } catch (const nlohmann::json::exception& error) {
    return Fail("manifest", -1, std::string("manifest.json: ") + error.what());
  }
}

}  // namespace qv
