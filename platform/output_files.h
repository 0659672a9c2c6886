#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/pending_file.h"
#include "platform/result.h"

// The files a job hands to its user, written into a directory the user named: each under a
// temporary name of its own, made exclusively (never through a link), written whole and put on
// the disk, and only then renamed into place. A file of a final name is replaced only when that
// is asked for; otherwise the rename refuses it, even when it appears while the job runs.
namespace qv {

struct OutputFile {
  std::string name;  // a name inside the directory
  std::span<const uint8_t> bytes;
};

// Writes every file into `directory` (with its trailing separator). All or none: when one
// cannot be written or renamed into place, the ones already in place are taken back and the
// error names the file. Raises IoError when a file cannot be written or put on the disk.
[[nodiscard]] Result<void> WriteOutputFiles(const std::string& directory,
                                            std::span<const OutputFile> files,
                                            PendingFile::Replace replace);

}  // namespace qv
