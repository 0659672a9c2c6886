#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "platform/result.h"

// The compressed key block: the 64 KiB that the box keeps in its key region when the key is
// stored compressed. Numbers little-endian:
//   0..79   0xFF
//   80      unsigned 32-bit 1: the key block flag
//   84      unsigned 32-bit L: length of the compressed stream
//   88      one LZO1X stream (LZO1X-1) of the 65,536-byte key data
//   88 + L  0xFF up to the end of the block
// The key data is the first 65,536 bytes of the key file, a shorter file extended with 0xFF,
// so the stream always decompresses to exactly 65,536 bytes. There is no checksum.
namespace qv {

inline constexpr size_t kKeyBlockSize = 0x10000;
inline constexpr size_t kKeyDataSize = 0x10000;
inline constexpr size_t kKeyBlockFlagOffset = 80;
inline constexpr size_t kKeyStreamLengthOffset = 84;
inline constexpr size_t kKeyStreamOffset = 88;
inline constexpr uint32_t kKeyBlockFlag = 1;
// The longest stream that fits into the block after its head.
inline constexpr size_t kLongestKeyStream = kKeyBlockSize - kKeyStreamOffset;  // 65,448
// LZO1X-1's worst case for 64 KiB of input: 65,536 + 4,096 + 64 + 3.
inline constexpr size_t kKeyStreamBufferSize = kKeyDataSize + kKeyDataSize / 16 + 64 + 3;

// True when the unsigned 32-bit value at offset 80 of a key file's bytes is 1: the file is a
// compressed key block already. Bytes too few to hold the value give false.
bool HasKeyBlockFlag(std::span<const uint8_t> key_file);

// The compressed key block of a key file: its first 65,536 bytes (a shorter file extended
// with 0xFF) compressed with LZO1X-1 behind the block's head. Fails when the compressor fails
// or the stream does not fit into the block after its head (65,449 bytes or more).
[[nodiscard]] Result<std::vector<uint8_t>> CompressKeyBlock(std::span<const uint8_t> key_file);

// The key data a compressed key block holds: the LZO1X stream at offset 88, of the length at
// offset 84, decompressed; always 65,536 bytes. Fails, saying where, for bytes too few for the
// block's head, a length that runs past the block, and a stream that is not a sound LZO1X stream
// of exactly 65,536 bytes. The flag at offset 80 is not looked at (HasKeyBlockFlag does that).
[[nodiscard]] Result<std::vector<uint8_t>> DecompressKeyBlock(std::span<const uint8_t> block);

}  // namespace qv
