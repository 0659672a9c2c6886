#pragma once

#include <cstdint>
#include <span>

namespace qv {

// CRC-32/MPEG-2: polynomial 0x04C11DB7, most significant bit first, no reflection, initial
// register 0xFFFFFFFF, no final exclusive-or. Check value: "123456789" -> 0x0376E6E7.
// Wherever a CRC is stored, it is stored least significant byte first.
inline constexpr uint32_t kCrc32Initial = 0xFFFFFFFF;

// The CRC over the first `count` bytes; a count of 0 or less gives 0xFFFFFFFF.
uint32_t Crc32(const uint8_t* bytes, int32_t count);

// Continues a CRC over more bytes, so a long range can be checked in pieces:
// Crc32Update(Crc32Update(kCrc32Initial, a), b) equals the CRC of a followed by b.
uint32_t Crc32Update(uint32_t crc, std::span<const uint8_t> bytes);

// The plain one-table, byte-at-a-time form of the same CRC; kept as the reference that the
// tests and the benchmark hold the fast form against.
uint32_t Crc32Bytewise(uint32_t crc, std::span<const uint8_t> bytes);

}  // namespace qv
