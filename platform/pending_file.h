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

  enum class Replace { kExisting, kNever };

  // Renames the temporary file to the final path: only where there is no file of that name
  // (kNever), or else in exchange with the file there (kExisting), which then waits under the
  // temporary name for Finish() or TakeBack(). Fails with "exists already" (kNever) or the
  // system's text; the temporary file is then removed when the object goes.
  [[nodiscard]] Result<void> Place(Replace replace);
  // Undoes Place(): the file that stood at the final name is back there, or the final name is
  // free again; the new file is removed when the object goes.
  void TakeBack();
  // Completes Place(): the replaced file, if any, is removed.
  void Finish();
  // Place() and Finish() together.
  [[nodiscard]] Result<void> Commit(Replace replace);

 private:
  PendingFile(File file, std::string temporary_path, std::string final_path);

  enum class State {
    kPending,    // the new file under the temporary name
    kPlacedNew,  // the new file under the final name, which was free
    kExchanged,  // the new file under the final name, the replaced one under the temporary name
    kDone,       // nothing left to do
  };

  File file_;
  std::string temporary_path_;
  std::string final_path_;
  State state_ = State::kPending;
};

// Writes `data` to a new file beside `path` (a temporary name of its own, made exclusively) and
// renames it over `path`, so a failure never leaves a half-written file under the final name
// and a link at either name is never written through. Raises IoError.
void WriteFileAtomically(const std::string& path, std::span<const uint8_t> data);

}  // namespace qv
