#pragma once

#include <cstdint>
#include <span>
#include <string>

// Helpers shared by the fuzz targets.
namespace qv::fuzz {

// A private directory for the whole run, on a memory file system when there is one, with its
// trailing '/'. Removed with everything in it when the process exits normally.
const std::string& ScratchDirectory();

// A file held in memory and named by a path that any open() accepts, so the readers that
// take a path can run over it without touching a disk.
class MemoryFile {
 public:
  explicit MemoryFile(std::span<const uint8_t> bytes);
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;
  ~MemoryFile();

  const std::string& path() const { return path_; }
  void WriteAt(uint64_t offset, std::span<const uint8_t> bytes);

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace qv::fuzz
