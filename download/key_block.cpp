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

Result<std::vector<uint8_t>> DecompressKeyBlock(std::span<const uint8_t> block) {
  if (block.size() < kKeyStreamOffset) {
    return Fail("key block", 0,
                "the key block has " + std::to_string(block.size()) + " bytes, fewer than the " +
                    std::to_string(kKeyStreamOffset) + " of its head");
  }
  const uint32_t length = ReadLe32(&block[kKeyStreamLengthOffset]);
  if (length > block.size() - kKeyStreamOffset) {
    return Fail("stream length", kKeyStreamLengthOffset,
                "the key block's stream length of " + std::to_string(length) +
                    " bytes runs past the end of the block, which holds " +
                    std::to_string(block.size() - kKeyStreamOffset) + " after its head");
  }
  EnsureLzoReady();
  std::vector<uint8_t> key(kKeyDataSize);
  lzo_uint produced = key.size();
  const int status =
      lzo1x_decompress_safe(&block[kKeyStreamOffset], length, key.data(), &produced, nullptr);
  switch (status) {
    case LZO_E_OK:
      break;
    case LZO_E_OUTPUT_OVERRUN:
      return Fail("key stream", kKeyStreamOffset,
                  "the key block's stream decompresses to more than " +
                      std::to_string(kKeyDataSize) + " bytes");
    case LZO_E_INPUT_NOT_CONSUMED:
      return Fail("key stream", kKeyStreamOffset,
                  "the key block's stream goes on after its end-of-stream marker");
    case LZO_E_INPUT_OVERRUN:
      return Fail("key stream", kKeyStreamOffset,
                  "the key block's stream ends before its end-of-stream marker");
    default:
      return Fail("key stream", kKeyStreamOffset,
                  "the key block's stream is not a valid LZO1X stream (error " +
                      std::to_string(status) + ")");
  }
  if (produced != kKeyDataSize) {
    return Fail("key stream", kKeyStreamOffset,
                "the key block's stream decompresses to " + std::to_string(produced) +
                    " bytes, not " + std::to_string(kKeyDataSize));
  }
  return key;
}

}  // namespace qv
