#include "platform/job_directory.h"

#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "platform/io_error.h"
#include "platform/process.h"

namespace qv {

namespace {

// The job directories that exist, for the signal thread to remove.
std::mutex registry_mutex;
std::set<std::string>& Registry() {
  static std::set<std::string> directories;
  return directories;
}

void Unregister(const std::string& path) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  Registry().erase(path);
}

sigset_t EndingSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaddset(&signals, signal);
  return signals;
}

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
  // Absolute, so that the path still names the directory from a converter started inside it.
  std::error_code error;
  std::string base =
      std::filesystem::absolute(parent.empty() ? DefaultParent() : parent, error).string();
  if (error) throw IoError::FromErrno(error.value());
  if (base.empty() || base.back() != '/') base += '/';
  // mkdtemp makes the directory exclusively, with permission for its owner only.
  std::string pattern = base + "quorvane-job-XXXXXX";
  // Made and listed at once, so that an ending signal never misses it.
  std::lock_guard<std::mutex> lock(registry_mutex);
  if (!::mkdtemp(pattern.data())) throw IoError::FromErrno(errno);
  Registry().insert(pattern + "/");
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
  Unregister(path_);
  path_.clear();
}

void RemoveJobDirectoriesOnSignal() {
  const sigset_t signals = EndingSignals();
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals] {
    int signal = 0;
    while (::sigwait(&signals, &signal) != 0) {
    }
    // The converters end first, then each directory is moved out of the way of the work that
    // may still go on in this process before it is removed.
    KillRunningPrograms();
    {
      std::lock_guard<std::mutex> lock(registry_mutex);
      for (const std::string& path : Registry()) {
        std::string gone = path.substr(0, path.size() - 1) + "-ended";
        if (::rename(path.c_str(), gone.c_str()) != 0) gone = path;
        for (int attempt = 0; attempt < 50 && std::filesystem::exists(gone); ++attempt) {
          std::error_code ignored;
          std::filesystem::remove_all(gone, ignored);
        }
      }
    }
    // Ends the process by the signal itself, as it would have without this thread.
    ::signal(signal, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signal);
  }).detach();
}

}  // namespace qv
