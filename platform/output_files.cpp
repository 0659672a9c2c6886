#include "platform/output_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/io_error.h"

namespace qv {

namespace {

// The directory, held locked for as long as the object lives: jobs that put their outputs into
// one directory do it one after the other, so that no two ever leave a mixed pair. The lock
// goes with the descriptor, even when the process is killed.
class LockedDirectory {
 public:
  explicit LockedDirectory(const std::string& directory)
      : fd_(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~LockedDirectory() {
    if (fd_ >= 0) ::close(fd_);
  }
  LockedDirectory(const LockedDirectory&) = delete;
  LockedDirectory& operator=(const LockedDirectory&) = delete;

  // Puts the directory's new entries on the disk too.
  void Sync() const {
    if (fd_ >= 0) ::fsync(fd_);
  }

 private:
  int fd_;
};

}  // namespace

Result<void> WriteOutputFiles(const std::string& directory, std::span<const OutputFile> files,
                              PendingFile::Replace replace) {
  std::vector<PendingFile> pending;
  pending.reserve(files.size());
  for (const OutputFile& output : files) {
    std::optional<PendingFile> file = PendingFile::Create(directory + output.name);
    if (!file) throw IoError::FromErrno(errno);
    file->file().WriteAt(0, output.bytes);
    file->file().Sync();
    pending.push_back(std::move(*file));
  }
  const LockedDirectory locked(directory);
  for (size_t i = 0; i < pending.size(); ++i) {
    Result<void> committed = pending[i].Commit(replace);
    if (committed) continue;
    // Only files this call has just put in place are taken back.
    for (size_t j = 0; j < i; ++j)
      RemoveFile(directory + files[j].name);
    return Fail("file", -1, files[i].name + " " + committed.error().text);
  }
  locked.Sync();
  return {};
}

}  // namespace qv
