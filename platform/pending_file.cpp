#include "platform/pending_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <utility>

#include "platform/io_error.h"

namespace qv {

std::optional<PendingFile> PendingFile::Create(const std::string& final_path) {
  if (final_path.empty()) return std::nullopt;
  // The process id and a counter make the name unique among running converters; an existing
  // name (left by a killed run) is skipped, never reused.
  static unsigned counter = 0;
  // The temporary name must be a valid name itself: beside a final name that is nearly as long
  // as a name may be, it keeps only the final name's beginning.
  const size_t slash = final_path.rfind('/');
  const size_t name_start = slash == std::string::npos ? 0 : slash + 1;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string suffix =
        ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    std::string name = final_path;
    if (name.size() - name_start + suffix.size() > NAME_MAX)
      name.resize(name_start + NAME_MAX - suffix.size());
    name += suffix;
    errno = 0;
    if (auto file = File::TryOpen(name, File::Mode::kCreateNew)) {
      return PendingFile(std::move(*file), std::move(name), final_path);
    }
    if (errno != EEXIST) return std::nullopt;
  }
  return std::nullopt;
}

PendingFile::PendingFile(File file, std::string temporary_path, std::string final_path)
    : file_(std::move(file)),
      temporary_path_(std::move(temporary_path)),
      final_path_(std::move(final_path)) {}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : file_(std::move(other.file_)),
      temporary_path_(std::move(other.temporary_path_)),
      final_path_(std::move(other.final_path_)),
      state_(std::exchange(other.state_, State::kDone)) {}

PendingFile::~PendingFile() {
  if (state_ == State::kExchanged) TakeBack();
  if (state_ == State::kPending) RemoveFile(temporary_path_);
}

Result<void> PendingFile::Place(Replace replace) {
  // A rename never follows a link at the final name: it moves the link itself.
  auto rename = [this](unsigned flags) {
    return ::renameat2(AT_FDCWD, temporary_path_.c_str(), AT_FDCWD, final_path_.c_str(), flags);
  };
  if (rename(RENAME_NOREPLACE) == 0) {
    state_ = State::kPlacedNew;
    return {};
  }
  int error = errno;
  if (error == EEXIST && replace == Replace::kExisting) {
    if (rename(RENAME_EXCHANGE) == 0) {
      state_ = State::kExchanged;
      // A file, or a link, is replaced; a directory of that name is not.
      struct stat replaced {};
      if (::lstat(temporary_path_.c_str(), &replaced) != 0 || !S_ISDIR(replaced.st_mode)) return {};
      TakeBack();
      return Fail("file", -1, IoError::FromErrno(EISDIR).what());
    }
    error = errno;
    // A file system that cannot exchange names: the replaced file goes at once.
    if (error == EINVAL && ::rename(temporary_path_.c_str(), final_path_.c_str()) == 0) {
      state_ = State::kDone;
      return {};
    }
  }
  if (error == EEXIST) return Fail("file", -1, "exists already");
  return Fail("file", -1, IoError::FromErrno(error).what());
}

void PendingFile::TakeBack() {
  if (state_ == State::kPlacedNew) {
    RemoveFile(final_path_);
    state_ = State::kDone;
  } else if (state_ == State::kExchanged) {
    if (::renameat2(AT_FDCWD, temporary_path_.c_str(), AT_FDCWD, final_path_.c_str(),
                    RENAME_EXCHANGE) == 0) {
      state_ = State::kPending;
    }
  }
}

void PendingFile::Finish() {
  if (state_ == State::kExchanged) RemoveFile(temporary_path_);
  if (state_ != State::kPending) state_ = State::kDone;
}

Result<void> PendingFile::Commit(Replace replace) {
  Result<void> placed = Place(replace);
  if (placed) Finish();
  return placed;
}

void WriteFileAtomically(const std::string& path, std::span<const uint8_t> data) {
  std::optional<PendingFile> pending = PendingFile::Create(path);
  if (!pending) throw IoError::FromErrno(errno);
  pending->file().WriteAt(0, data);
  Result<void> committed = pending->Commit(PendingFile::Replace::kExisting);
  if (!committed) throw IoError(committed.error().text);
}

}  // namespace qv
