#include "platform/job_directory.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <utility>

#include "platform/io_error.h"

namespace qv {

namespace {

std::string DefaultParent() {
  if (const char* runtime = ::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
    struct stat info {};
    if (::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode)) return runtime;
  }
  std::error_code error;
  std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  return error ? std::string("/tmp") : temporary.string();
}

}  // namespace

JobDirectory JobDirectory::Make(const std::string& parent) {
  std::string base = parent.empty() ? DefaultParent() : parent;
  if (base.empty() || base.back() != '/') base += '/';
  // mkdtemp makes the directory exclusively, with permission for its owner only.
  std::string pattern = base + "quorvane-job-XXXXXX";
  if (!::mkdtemp(pattern.data())) throw IoError::FromErrno(errno);
  return JobDirectory(pattern + "/");
}

JobDirectory::JobDirectory(JobDirectory&& other) noexcept
    : path_(std::exchange(other.path_, std::string())) {}

JobDirectory& JobDirectory::operator=(JobDirectory&& other) noexcept {
  if (this != &other) {
    Remove();
    path_ = std::exchange(other.path_, std::string());
  }
  return *this;
}

JobDirectory::~JobDirectory() {
  Remove();
}

void JobDirectory::Empty() const {
  if (path_.empty()) return;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path_, error)) {
    std::error_code ignored;
    std::filesystem::remove_all(entry.path(), ignored);
  }
}

void JobDirectory::Remove() {
  if (path_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  path_.clear();
}

}  // namespace qv
