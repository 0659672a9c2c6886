#include "download/key_block.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>

#include "download/download_file.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

// The fixed working areas of one compression.
struct KeyBuffers {
  std::array<uint8_t, kKeyBlockSize> block;
  std::array<uint8_t, kKeyDataSize> key;
  std::array<uint8_t, kKeyStreamBufferSize> stream;
  std::array<uint8_t, LZO1X_1_MEM_COMPRESS> work;
};

// Reads up to 64 KiB of the key file into `key`, which is 0xFF beyond what the file holds.
bool ReadKeyData(const std::string& source, std::span<uint8_t, kKeyDataSize> key) {
  std::optional<File> file = File::TryOpen(source, File::Mode::kRead);
  if (!file) return false;
  std::fill(key.begin(), key.end(), 0xFF);
  try {
    const size_t expected = static_cast<size_t>(std::min<int64_t>(file->Size(), kKeyDataSize));
    return file->ReadAt(0, key) == expected;
  } catch (const IoError&) {
    return false;
  }
}

}  // namespace

bool HasKeyBlockFlag(const std::string& path) {
  std::optional<File> file = File::TryOpen(path, File::Mode::kRead);
  if (!file) return false;
  uint8_t flag[4];
  if (file->ReadAt(kKeyBlockFlagOffset, flag) != sizeof flag) return false;
  return ReadLe32(flag) == kKeyBlockFlag;
}

bool CompressKeyFile(const std::string& source, const std::string& destination) {
  EnsureLzoReady();
  auto buffers = std::make_unique<KeyBuffers>();
  if (!ReadKeyData(source, buffers->key)) return false;

  lzo_uint length = 0;
  const int status = lzo1x_1_compress(buffers->key.data(), kKeyDataSize, buffers->stream.data(),
                                      &length, buffers->work.data());
  // A stream that runs past the block would be cut off when the block is placed in the key
  // region, so it is refused like a failed compression.
  if (status != LZO_E_OK || length > kLongestKeyStream) return false;

  std::array<uint8_t, kKeyBlockSize>& block = buffers->block;
  block.fill(0xFF);
  WriteLe32(&block[kKeyBlockFlagOffset], kKeyBlockFlag);
  WriteLe32(&block[kKeyStreamLengthOffset], static_cast<uint32_t>(length));
  std::copy_n(buffers->stream.begin(), length, block.begin() + kKeyStreamOffset);
  try {
    WriteFileAtomically(destination, block);
  } catch (const IoError&) {
    return false;
  }
  return true;
}

}  // namespace qv
