#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// An open file, read and written at explicit offsets. Opening with Open() and every write
// raise IoError on failure; reads report how many bytes they delivered, so a reader can
// stay inside the file and treat the missing bytes as it must.
class File {
 public:
  enum class Mode {
    kRead,       // existing file, reading only
    kReadWrite,  // existing file, reading and writing; never through a symbolic link
    kCreate,     // create, or truncate an existing file; never through a symbolic link
    kCreateNew,  // create a file that must not exist yet (nor a link of its name)
  };

  static File Open(const std::string& path, Mode mode);
  static std::optional<File> TryOpen(const std::string& path, Mode mode);

  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  int64_t Size() const;

  // Reads up to out.size() bytes at `offset`; returns how many arrived (fewer at the end of
  // the file, none for a negative offset or a read error).
  size_t ReadAt(int64_t offset, std::span<uint8_t> out) const;

  // Writes all of `data` at `offset`, growing the file when needed.
  void WriteAt(int64_t offset, std::span<const uint8_t> data);

  // Sets the file's length, cutting it or extending it with zero bytes.
  void Resize(int64_t size);

  // Puts everything written on the disk before it returns; raises IoError.
  void Sync();

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// The file-size query: the size in bytes of a named file. Raises IoError when the file
// cannot be opened or sized, and for files of 2 GiB or more, whose size no signed 32-bit
// count can hold.
int32_t FileSize(const std::string& path);

bool FileExists(const std::string& path);

// True when anything stands under the name in its directory: a file, a link (even a dangling
// one), a directory, or anything else that a new file of that name would meet. A name the
// system cannot look up at all gives false, and fails with its own error when written.
bool NameIsTaken(const std::string& path);

// True when both names exist and lead to the same file (the same device and inode).
bool IsSameFile(const std::string& a, const std::string& b);

// Deletes a file; returns false when it did not exist or could not be deleted.
bool RemoveFile(const std::string& path);

// The extension of a file's name: its last full stop and what follows ("box.dld" gives ".dld",
// ".dld" gives ".dld" as well); empty when the name, not counting its directories, has none.
std::string ExtensionOf(const std::string& path);

// The bytes of a text, as files take them.
inline std::span<const uint8_t> BytesOf(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Whole-file helpers; both raise IoError.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
// The first `limit` bytes of a file, or all of a shorter one; raises IoError.
std::vector<uint8_t> ReadFilePrefix(const std::string& path, size_t limit);
void WriteWholeFile(const std::string& path, std::span<const uint8_t> data);

// Renames `from` over `to` in one step; raises IoError, and removes `from`, when it cannot.
void ReplaceFile(const std::string& from, const std::string& to);

}  // namespace qv
