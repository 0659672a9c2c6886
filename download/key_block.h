#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// True when the unsigned 32-bit value at offset 80 of the file is 1: the file is a compressed
// key block already. A file that cannot be opened or is too short gives false.
bool HasKeyBlockFlag(const std::string& path);

// Makes the compressed key block of the key file `source` and writes it to `destination`
// (replacing any earlier file, which stays untouched until the new one is complete). False,
// writing nothing, when the source cannot be read, the compressor fails, the stream does not
// fit into the block after its head (65,449 bytes or more), or the destination cannot be
// written.
bool CompressKeyFile(const std::string& source, const std::string& destination);

}  // namespace qv
