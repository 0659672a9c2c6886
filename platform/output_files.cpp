#include "platform/output_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/io_error.h"

namespace qv {

namespace {

// Puts the directory's new entries on the disk too.
void SyncDirectory(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

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
  for (size_t i = 0; i < pending.size(); ++i) {
    Result<void> committed = pending[i].Commit(replace);
    if (committed) continue;
    // Only files this call has just put in place are taken back.
    for (size_t j = 0; j < i; ++j)
      RemoveFile(directory + files[j].name);
    return Fail("file", -1, files[i].name + " " + committed.error().text);
  }
  SyncDirectory(directory);
  return {};
}

}  // namespace qv
