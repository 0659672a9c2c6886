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
    if (!file) {
      return Fail(
          "file", -1,
          output.name + (errno == EEXIST ? " has every temporary name beside it taken"
                                         : std::string(" ") + IoError::FromErrno(errno).what()));
    }
    file->file().WriteAt(0, output.bytes);
    file->file().Sync();
    pending.push_back(std::move(*file));
  }
  const LockedDirectory locked(directory);
  for (size_t i = 0; i < pending.size(); ++i) {
    Result<void> placed = pending[i].Place(replace);
    if (placed) continue;
    // All or none: the files already placed are taken back, and those they replaced return.
    for (size_t j = 0; j < i; ++j)
      pending[j].TakeBack();
    return Fail("file", -1, files[i].name + " " + placed.error().text);
  }
  for (PendingFile& file : pending)
    file.Finish();
  locked.Sync();
  return {};
}

}  // namespace qv
