#include "download/key_block.h"

#include <lzo/lzo1x.h>

#include <algorithm>
#include <array>
#include <memory>

#include "download/download_file.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

// The fixed working areas of one compression.
struct KeyBuffers {
  std::array<uint8_t, kKeyDataSize> key;
  std::array<uint8_t, kKeyStreamBufferSize> stream;
  std::array<uint8_t, LZO1X_1_MEM_COMPRESS> work;
};

}  // namespace

bool HasKeyBlockFlag(std::span<const uint8_t> key_file) {
  if (key_file.size() < kKeyBlockFlagOffset + 4) return false;
  return ReadLe32(&key_file[kKeyBlockFlagOffset]) == kKeyBlockFlag;
}

Result<std::vector<uint8_t>> CompressKeyBlock(std::span<const uint8_t> key_file) {
  EnsureLzoReady();
  auto buffers = std::make_unique<KeyBuffers>();
  buffers->key.fill(0xFF);
  std::copy_n(key_file.begin(), std::min(key_file.size(), kKeyDataSize), buffers->key.begin());

  lzo_uint length = 0;
  const int status = lzo1x_1_compress(buffers->key.data(), kKeyDataSize, buffers->stream.data(),
                                      &length, buffers->work.data());
  if (status != LZO_E_OK)
    return Fail("key data", 0, "the compressor failed (error " + std::to_string(status) + ")");
  // A stream that runs past the block would be cut off when the block is placed in the key
  // region, so it is refused like a failed compression.
  if (length > kLongestKeyStream) {
    return Fail("key data", 0,
                "the key data compresses to " + std::to_string(length) + " bytes, more than the " +
                    std::to_string(kLongestKeyStream) + " the block holds after its head");
  }

  std::vector<uint8_t> block(kKeyBlockSize, 0xFF);
  WriteLe32(&block[kKeyBlockFlagOffset], kKeyBlockFlag);
  WriteLe32(&block[kKeyStreamLengthOffset], static_cast<uint32_t>(length));
  std::copy_n(buffers->stream.begin(), length, block.begin() + kKeyStreamOffset);
  return block;
}

}  // namespace qv
