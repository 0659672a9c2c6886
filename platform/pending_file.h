#pragma once

#include <optional>
#include <string>

#include "platform/file.h"
#include "platform/result.h"

namespace qv {

// An output file that is written under a temporary name in the directory of its final path
// and renamed over that path only by Commit(). Until then the final name is untouched, and a
// pending file that is dropped without a commit is deleted, so a run that fails part-way
// never leaves a partial or empty file under the final name.
class PendingFile {
 public:
  // Creates the temporary file ("<final path>.part<n>", the final name cut short when the two
  // would be too long for a name); nothing when it cannot be created.
  static std::optional<PendingFile> Create(const std::string& final_path);

  PendingFile(PendingFile&& other) noexcept;
  PendingFile& operator=(PendingFile&&) = delete;
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;
  ~PendingFile();

  File& file() { return file_; }
  const std::string& temporary_path() const { return temporary_path_; }

  // Renames the temporary file to the final path, over a file of that name or (kNever) only
  // where there is none. Fails with "exists already" (kNever) or the system's text; the
  // temporary file is then removed when the object goes.
  enum class Replace { kExisting, kNever };
  [[nodiscard]] Result<void> Commit(Replace replace);

 private:
  PendingFile(File file, std::string temporary_path, std::string final_path);

  File file_;
  std::string temporary_path_;
  std::string final_path_;
  bool pending_ = true;
};

// Writes `data` to a new file beside `path` (a temporary name of its own, made exclusively) and
// renames it over `path`, so a failure never leaves a half-written file under the final name
// and a link at either name is never written through. Raises IoError.
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> data);

}  // namespace qv
