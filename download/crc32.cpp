#include "download/crc32.h"

#include <array>

#include "download/crc32_fold.h"

namespace qv {

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;

// kTables[0][i] is the register after shifting i << 24 eight times through the polynomial
// (kTables[0][1] is the polynomial itself). kTables[k][i] is that value carried k more bytes
// of zeros further, which lets eight input bytes be folded in with eight independent lookups
// (slicing-by-8).
constexpr std::array<std::array<uint32_t, 256>, 8> MakeTables() {
  std::array<std::array<uint32_t, 256>, 8> tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t crc = i << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) ? (crc << 1) ^ kPolynomial : crc << 1;
    tables[0][i] = crc;
  }
  for (int k = 1; k < 8; ++k) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t previous = tables[k - 1][i];
      tables[k][i] = (previous << 8) ^ tables[0][previous >> 24];
    }
  }
  return tables;
}

constexpr auto kTables = MakeTables();
static_assert(kTables[0][1] == kPolynomial);

inline uint32_t StepByte(uint32_t crc, uint8_t byte) {
  return kTables[0][((crc >> 24) ^ byte) & 0xFF] ^ (crc << 8);
}

}  // namespace

uint32_t Crc32Bytewise(uint32_t crc, std::span<const uint8_t> bytes) {
  for (uint8_t byte : bytes)
    crc = StepByte(crc, byte);
  return crc;
}

uint32_t Crc32Update(uint32_t crc, std::span<const uint8_t> bytes) {
  if (bytes.size() >= crc32_fold::kWideMinimum && crc32_fold::WideAvailable()) {
    return crc32_fold::UpdateWide(crc, bytes);
  }
  if (bytes.size() >= crc32_fold::kMinimum && crc32_fold::Available()) {
    return crc32_fold::Update(crc, bytes);
  }
  const uint8_t* p = bytes.data();
  size_t n = bytes.size();
  while (n >= 8) {
    uint32_t high =
        crc ^ (uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]);
    crc = kTables[7][high >> 24] ^ kTables[6][(high >> 16) & 0xFF] ^
          kTables[5][(high >> 8) & 0xFF] ^ kTables[4][high & 0xFF] ^ kTables[3][p[4]] ^
          kTables[2][p[5]] ^ kTables[1][p[6]] ^ kTables[0][p[7]];
    p += 8;
    n -= 8;
  }
  for (; n > 0; --n)
    crc = StepByte(crc, *p++);
  return crc;
}

uint32_t Crc32(const uint8_t* bytes, int32_t count) {
  if (count <= 0) return kCrc32Initial;
  return Crc32Update(kCrc32Initial, {bytes, static_cast<size_t>(count)});
}

}  // namespace qv
