#include "fuzz/fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace qv::fuzz {

namespace {

std::string& ScratchPath() {
  static std::string path;
  return path;
}

void RemoveScratch() {
  std::error_code ignored;
  if (!ScratchPath().empty()) std::filesystem::remove_all(ScratchPath(), ignored);
}

}  // namespace

const std::string& ScratchDirectory() {
  std::string& path = ScratchPath();
  if (!path.empty()) return path;
  std::error_code error;
  std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                   ? std::filesystem::path("/dev/shm")
                                   : std::filesystem::temp_directory_path();
  std::string pattern = (base / "quorvane-fuzz-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) std::abort();
  path = pattern + "/";
  std::atexit(RemoveScratch);
  return path;
}

MemoryFile::MemoryFile(std::span<const uint8_t> bytes) {
  fd_ = ::memfd_create("quorvane-fuzz", 0);
  if (fd_ < 0) std::abort();
  path_ = "/proc/self/fd/" + std::to_string(fd_);
  WriteAt(0, bytes);
}

MemoryFile::~MemoryFile() {
  if (fd_ >= 0) ::close(fd_);
}

void MemoryFile::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n <= 0) std::abort();
    done += static_cast<size_t>(n);
  }
}

}  // namespace qv::fuzz
