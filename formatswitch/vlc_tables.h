#pragma once

#include <array>
#include <cstdint>

// The code tables and constant arrays of ISO/IEC 13818-2 that an intra picture uses.
namespace qv::formatswitch {

struct Vlc {
  uint32_t code = 0;
  int length = 0;  // 0: no code in the table
};

// The DCT coefficient tables: zero (B.14) for intra_vlc_format 0, one (B.15) for 1.
// Codes exclude the sign bit that follows each one.
inline constexpr int kMaxTableLevel = 40;
Vlc CoefficientCode(int table, int run, int level);  // {0, 0} when it needs an escape
Vlc EndOfBlockCode(int table);
inline constexpr Vlc kEscapeCode = {0b000001, 6};

// dct_dc_size_luminance (B.12) and dct_dc_size_chrominance (B.13), sizes 0 to 11.
Vlc DcSizeCode(bool luminance, int size);

// The length in bits of coefficient (run, |level|) with its sign, escapes included.
int CoefficientBits(int table, int run, int level);

// The same lengths as a table indexed [run * kBitsTableLevels + level] for runs 0 to 63 and
// levels 1 to kBitsTableLevels - 1; every level beyond it takes an escape (24 bits).
inline constexpr int kBitsTableLevels = kMaxTableLevel + 1;
inline constexpr int kEscapeBits = 24;
const uint8_t* CoefficientBitsTable(int table);

// quantiser_scale for quantiser_scale_code 1 to 31 under q_scale_type 0 (linear) or 1.
int QuantiserScale(int q_scale_type, int code);

// Raster positions (v * 8 + u) in coefficient order, for alternate_scan 0 and 1.
const std::array<uint8_t, 64>& ScanOrder(int alternate_scan);

// The default intra quantiser matrix in raster order; the default non-intra one is all 16.
extern const std::array<uint8_t, 64> kDefaultIntraMatrix;

}  // namespace qv::formatswitch
