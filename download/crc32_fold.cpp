#include "download/crc32_fold.h"

#include "download/crc32.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace qv::crc32_fold {

#if defined(__x86_64__)

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7;

// x^n mod P as 32 coefficient bits (bit i is the coefficient of x^i).
constexpr uint32_t XPowerModP(int n) {
  uint32_t remainder = 1;
  for (int i = 0; i < n; ++i) {
    remainder = (remainder & 0x80000000u) ? (remainder << 1) ^ kPolynomial : remainder << 1;
  }
  return remainder;
}

// The input is read in 16-byte blocks, each byte-reversed so that the block is one 128-bit
// polynomial with the first byte's top bit as its highest coefficient (the CRC runs most
// significant bit first). A block A followed by D bits of further input stands for A * x^D;
// with A = H * x^64 + L that is congruent, modulo P, to H * (x^(D+64) mod P) + L * (x^D mod P),
// a product of under 96 bits. Folding keeps several blocks a fixed distance apart, then
// folds them into one; the last 128 bits and the tail go through the table-driven CRC, which
// reduces them modulo P.
struct FoldConstants {
  long long low;   // x^D mod P
  long long high;  // x^(D+64) mod P
};
constexpr FoldConstants kFold2048{XPowerModP(2048), XPowerModP(2048 + 64)};
constexpr FoldConstants kFold512{XPowerModP(512), XPowerModP(512 + 64)};
constexpr FoldConstants kFold128{XPowerModP(128), XPowerModP(128 + 64)};

#define QV_FOLD_128 __attribute__((target("pclmul,ssse3")))
#define QV_FOLD_512 __attribute__((target("pclmul,ssse3,avx512f,avx512bw,vpclmulqdq")))

QV_FOLD_128 inline __m128i Reverse128() {
  return _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

QV_FOLD_128 inline __m128i Load(const uint8_t* bytes) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)), Reverse128());
}

QV_FOLD_128 inline __m128i Constants(FoldConstants k) {
  return _mm_set_epi64x(k.high, k.low);
}

// (block * x^D), congruent modulo P, plus the next block.
QV_FOLD_128 inline __m128i Fold(__m128i block, __m128i constants, __m128i next) {
  const __m128i high = _mm_clmulepi64_si128(block, constants, 0x11);
  const __m128i low = _mm_clmulepi64_si128(block, constants, 0x00);
  return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

// The register's effect is that of its four bytes added to the first four input bytes.
QV_FOLD_128 inline __m128i WithRegister(__m128i first_block, uint32_t crc) {
  return _mm_xor_si128(first_block, _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
}

// Folds the remaining whole blocks into x, then reduces x and the last bytes to the CRC.
QV_FOLD_128 uint32_t Finish(__m128i x, const uint8_t* p, size_t n) {
  const __m128i by128 = Constants(kFold128);
  for (; n >= 16; p += 16, n -= 16)
    x = Fold(x, by128, Load(p));
  uint8_t rest[16];
  _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), _mm_shuffle_epi8(x, Reverse128()));
  return Crc32Bytewise(Crc32Bytewise(0, rest), {p, n});
}

// Four 16-byte blocks at a time, 64 bytes apart. n is at least 64.
QV_FOLD_128 uint32_t Fold128(uint32_t crc, const uint8_t* p, size_t n) {
  __m128i x0 = WithRegister(Load(p), crc);
  __m128i x1 = Load(p + 16);
  __m128i x2 = Load(p + 32);
  __m128i x3 = Load(p + 48);
  const __m128i by512 = Constants(kFold512);
  for (p += 64, n -= 64; n >= 64; p += 64, n -= 64) {
    x0 = Fold(x0, by512, Load(p));
    x1 = Fold(x1, by512, Load(p + 16));
    x2 = Fold(x2, by512, Load(p + 32));
    x3 = Fold(x3, by512, Load(p + 48));
  }
  const __m128i by128 = Constants(kFold128);
  return Finish(Fold(Fold(Fold(x0, by128, x1), by128, x2), by128, x3), p, n);
}

// The same with 512-bit registers, four blocks each: sixteen blocks at a time, 256 bytes
// apart. n is at least 256.
// The same 128-bit constant in all four lanes.
QV_FOLD_512 inline __m512i Lanes(long long high, long long low) {
  return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

QV_FOLD_512 inline __m512i Load512(const uint8_t* bytes) {
  // Reverse128() in every lane.
  const __m512i reverse = Lanes(0x0001020304050607, 0x08090A0B0C0D0E0F);
  return _mm512_shuffle_epi8(_mm512_loadu_si512(bytes), reverse);
}

QV_FOLD_512 inline __m512i Fold512(__m512i blocks, __m512i constants, __m512i next) {
  const __m512i high = _mm512_clmulepi64_epi128(blocks, constants, 0x11);
  const __m512i low = _mm512_clmulepi64_epi128(blocks, constants, 0x00);
  return _mm512_ternarylogic_epi64(high, low, next, 0x96);  // high ^ low ^ next
}

QV_FOLD_512 uint32_t Fold2048(uint32_t crc, const uint8_t* p, size_t n) {
  __m512i x0 = _mm512_xor_si512(
      Load512(p), _mm512_zextsi128_si512(_mm_set_epi32(static_cast<int>(crc), 0, 0, 0)));
  __m512i x1 = Load512(p + 64);
  __m512i x2 = Load512(p + 128);
  __m512i x3 = Load512(p + 192);
  const __m512i by2048 = Lanes(kFold2048.high, kFold2048.low);
  for (p += 256, n -= 256; n >= 256; p += 256, n -= 256) {
    x0 = Fold512(x0, by2048, Load512(p));
    x1 = Fold512(x1, by2048, Load512(p + 64));
    x2 = Fold512(x2, by2048, Load512(p + 128));
    x3 = Fold512(x3, by2048, Load512(p + 192));
  }
  // Each 128-bit lane of x0 lies 64 bytes before the same lane of x1, and so on.
  const __m512i by512 = Lanes(kFold512.high, kFold512.low);
  const __m512i x = Fold512(Fold512(Fold512(x0, by512, x1), by512, x2), by512, x3);
  __m128i lanes[4];
  _mm512_storeu_si512(lanes, x);
  const __m128i by128 = Constants(kFold128);
  return Finish(Fold(Fold(Fold(lanes[0], by128, lanes[1]), by128, lanes[2]), by128, lanes[3]), p,
                n);
}

}  // namespace

bool Available() {
  static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
  return available;
}

bool WideAvailable() {
  static const bool available = Available() && __builtin_cpu_supports("avx512f") &&
                                __builtin_cpu_supports("avx512bw") &&
                                __builtin_cpu_supports("vpclmulqdq");
  return available;
}

uint32_t Update(uint32_t crc, std::span<const uint8_t> bytes) {
  return Fold128(crc, bytes.data(), bytes.size());
}

uint32_t UpdateWide(uint32_t crc, std::span<const uint8_t> bytes) {
  return Fold2048(crc, bytes.data(), bytes.size());
}

#else

bool Available() {
  return false;
}
uint32_t Update(uint32_t crc, std::span<const uint8_t> bytes) {
  return Crc32Bytewise(crc, bytes);
}

#endif

}  // namespace qv::crc32_fold
