#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// The CRC-32/MPEG-2 of long inputs by folding with carry-less multiplication, used by
// Crc32Update where the processor has it: PCLMULQDQ on 128-bit registers, or VPCLMULQDQ on
// 512-bit registers with AVX-512. Internal to download/ (and its tests).
namespace qv::crc32_fold {

// Inputs at least this long are folded; shorter ones go through the tables.
inline constexpr size_t kMinimum = 64;
inline constexpr size_t kWideMinimum = 256;

// True when this processor can fold: x86-64 with PCLMULQDQ and SSSE3.
bool Available();
// True when it can also fold 512 bits at a time: AVX-512F, AVX-512BW and VPCLMULQDQ.
bool WideAvailable();

// Continue `crc` over `bytes`: Update needs Available() and at least kMinimum bytes,
// UpdateWide needs WideAvailable() and at least kWideMinimum bytes.
uint32_t Update(uint32_t crc, std::span<const uint8_t> bytes);
uint32_t UpdateWide(uint32_t crc, std::span<const uint8_t> bytes);

}  // namespace qv::crc32_fold
