#pragma once

#include <cstdint>

// Little-endian numbers in flash structures, download files and key blocks are read and
// written byte by byte, never by casting structs.
namespace qv {

// Reads an unsigned number of `width` bytes (1 to 8), least significant byte first.
inline uint64_t ReadLe(const uint8_t* bytes, int width) {
  uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i)
    value = (value << 8) | bytes[i];
  return value;
}

inline uint32_t ReadLe16(const uint8_t* bytes) {
  return static_cast<uint32_t>(ReadLe(bytes, 2));
}
inline uint32_t ReadLe24(const uint8_t* bytes) {
  return static_cast<uint32_t>(ReadLe(bytes, 3));
}
inline uint32_t ReadLe32(const uint8_t* bytes) {
  return static_cast<uint32_t>(ReadLe(bytes, 4));
}
inline uint64_t ReadLe64(const uint8_t* bytes) {
  return ReadLe(bytes, 8);
}

// Writes the low `width` bytes (1 to 8) of `value`, least significant byte first.
inline void WriteLe(uint8_t* bytes, uint64_t value, int width) {
  for (int i = 0; i < width; ++i)
    bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void WriteLe16(uint8_t* bytes, uint32_t value) {
  WriteLe(bytes, value, 2);
}
inline void WriteLe24(uint8_t* bytes, uint32_t value) {
  WriteLe(bytes, value, 3);
}
inline void WriteLe32(uint8_t* bytes, uint32_t value) {
  WriteLe(bytes, value, 4);
}
inline void WriteLe64(uint8_t* bytes, uint64_t value) {
  WriteLe(bytes, value, 8);
}

}  // namespace qv
