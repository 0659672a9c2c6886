#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/image_file.h"
#include "app/manifest.h"
#include "app/outcome.h"
#include "platform/pending_file.h"

// Taking an image apart into files a user can read, change and keep in version control, with a
// manifest of where each part lies and the SHA-256 of every file.
namespace qv {

struct ExtractedFile {
  std::string name;  // inside the extraction's directory
  std::vector<uint8_t> bytes;
};

// Every file an extraction of `loaded` writes: each partition (logos as .m2v, with a PNG of
// each logo that decodes, httpcfg.ini, modelid, the others as .bin), the boot area, the
// directory and manufacturer block as they stand, manufacturer.cfg, the carried ranges, the
// default database and key block regions (and the key data of a compressed key block), the
// bytes nothing else covers unless they are all erased, and last the manifest. Together they
// hold every byte of the image. `source_name` and `source_size` describe the file extracted.
std::vector<ExtractedFile> ExtractFiles(const LoadedImage& loaded, const std::string& source_name,
                                        uint64_t source_size);

// `quorvane extract`: the files of the image at `path` into `directory` (made when missing),
// all or none. Files of the same names there are replaced only with kExisting; otherwise they
// are named, and nothing is written.
Outcome ExtractImage(const std::string& path, const std::string& directory,
                     PendingFile::Replace replace);

}  // namespace qv
