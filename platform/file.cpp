#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>

#include "platform/io_error.h"

namespace qv {

namespace {

int OpenFlags(File::Mode mode) {
  switch (mode) {
    case File::Mode::kRead:
      return O_RDONLY;
    // A file opened for writing is never reached through a symbolic link: a link planted at
    // its name would make the write land wherever the link points.
    case File::Mode::kReadWrite:
      return O_RDWR | O_NOFOLLOW;
    case File::Mode::kCreate:
      return O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW;
    case File::Mode::kCreateNew:
      return O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
  }
  return O_RDONLY;
}

int OpenDescriptor(const std::string& path, File::Mode mode) {
  if (path.empty() || path.find('\0') != std::string::npos) {
    errno = EINVAL;
    return -1;
  }
  // Opened without waiting, so that a name which leads to a pipe cannot block the tool until
  // some writer comes; only regular files are kept (and then read and written as usual).
  int fd;
  do {
    fd = ::open(path.c_str(), OpenFlags(mode) | O_CLOEXEC | O_NONBLOCK, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
      bool directory = S_ISDIR(info.st_mode);
      ::close(fd);
      errno = directory ? EISDIR : EINVAL;
      return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  }
  return fd;
}

}  // namespace

File File::Open(const std::string& path, Mode mode) {
  int fd = OpenDescriptor(path, mode);
  if (fd < 0) throw IoError::FromErrno(errno);
  return File(fd);
}

std::optional<File> File::TryOpen(const std::string& path, Mode mode) {
  int fd = OpenDescriptor(path, mode);
  if (fd < 0) return std::nullopt;
  return File(fd);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

int64_t File::Size() const {
  struct stat info {};
  if (::fstat(fd_, &info) != 0) throw IoError::FromErrno(errno);
  return info.st_size;
}

size_t File::ReadAt(int64_t offset, std::span<uint8_t> out) const {
  if (offset < 0) return 0;
  size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done,
                        static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void File::WriteAt(int64_t offset, std::span<const uint8_t> data) {
  if (offset < 0) throw IoError::FromErrno(EINVAL);
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::pwrite(fd_, data.data() + done, data.size() - done,
                         static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw IoError::FromErrno(errno);
    if (n == 0) throw IoError::FromErrno(ENOSPC);
    done += static_cast<size_t>(n);
  }
}

void File::Sync() {
  if (::fsync(fd_) != 0) throw IoError::FromErrno(errno);
}

void File::Resize(int64_t size) {
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw IoError::FromErrno(errno);
}

int32_t FileSize(const std::string& path) {
  File file = File::Open(path, File::Mode::kRead);
  int64_t size = file.Size();
  if (size > std::numeric_limits<int32_t>::max()) throw IoError::FromErrno(EFBIG);
  return static_cast<int32_t>(size);
}

bool NameIsTaken(const std::string& path) {
  struct stat status;
  return ::lstat(path.c_str(), &status) == 0;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  struct stat first {};
  struct stat second {};
  if (a.empty() || b.empty() || ::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) {
    return false;
  }
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool RemoveFile(const std::string& path) {
  return !path.empty() && ::unlink(path.c_str()) == 0;
}

std::string ExtensionOf(const std::string& path) {
  const size_t name_start = path.rfind('/') + 1;  // 0 when there is no directory
  const size_t dot = path.rfind('.');
  return dot == std::string::npos || dot < name_start ? std::string() : path.substr(dot);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  File file = File::Open(path, File::Mode::kRead);
  std::vector<uint8_t> bytes(static_cast<size_t>(file.Size()));
  bytes.resize(file.ReadAt(0, bytes));
  return bytes;
}

std::vector<uint8_t> ReadFilePrefix(const std::string& path, size_t limit) {
  File file = File::Open(path, File::Mode::kRead);
  std::vector<uint8_t> bytes(std::min<size_t>(static_cast<size_t>(file.Size()), limit));
  bytes.resize(file.ReadAt(0, bytes));
  return bytes;
}

void WriteWholeFile(const std::string& path, std::span<const uint8_t> data) {
  File file = File::Open(path, File::Mode::kCreate);
  file.WriteAt(0, data);
}

void ReplaceFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    int error = errno;
    RemoveFile(from);
    throw IoError::FromErrno(error);
  }
}

}  // namespace qv
