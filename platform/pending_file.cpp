#include "platform/pending_file.h"

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
      pending_(std::exchange(other.pending_, false)) {}

PendingFile::~PendingFile() {
  if (pending_) RemoveFile(temporary_path_);
}

void PendingFile::Commit() {
  if (std::rename(temporary_path_.c_str(), final_path_.c_str()) != 0)
    throw IoError::FromErrno(errno);
  pending_ = false;
}

}  // namespace qv
