#include "fuzz/fuzz_support.h"

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

}  // namespace qv::fuzz
