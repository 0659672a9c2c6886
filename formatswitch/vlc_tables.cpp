#include "formatswitch/vlc_tables.h"

#include <string_view>

namespace qv::formatswitch {

namespace {

struct Entry {
  int run;
  int level;
  std::string_view bits;
};

// Table B.14, DCT coefficients table zero (the first-coefficient code "1s" of non-intra
// blocks is not needed: intra blocks code their DC coefficient apart).
constexpr Entry kTableZero[] = {
    {0, 1, "11"},
    {1, 1, "011"},
    {0, 2, "0100"},
    {2, 1, "0101"},
    {0, 3, "00101"},
    {3, 1, "00111"},
    {4, 1, "00110"},
    {1, 2, "000110"},
    {5, 1, "000111"},
    {6, 1, "000101"},
    {7, 1, "000100"},
    {0, 4, "0000110"},
    {2, 2, "0000100"},
    {8, 1, "0000111"},
    {9, 1, "0000101"},
    {0, 5, "00100110"},
    {0, 6, "00100001"},
    {1, 3, "00100101"},
    {3, 2, "00100100"},
    {10, 1, "00100111"},
    {11, 1, "00100011"},
    {12, 1, "00100010"},
    {13, 1, "00100000"},
    {0, 7, "0000001010"},
    {1, 4, "0000001100"},
    {2, 3, "0000001011"},
    {4, 2, "0000001111"},
    {5, 2, "0000001001"},
    {14, 1, "0000001110"},
    {15, 1, "0000001101"},
    {16, 1, "0000001000"},
    {0, 8, "000000011101"},
    {0, 9, "000000011000"},
    {0, 10, "000000010011"},
    {0, 11, "000000010000"},
    {1, 5, "000000011011"},
    {2, 4, "000000010100"},
    {3, 3, "000000011100"},
    {4, 3, "000000010010"},
    {6, 2, "000000011110"},
    {7, 2, "000000010101"},
    {8, 2, "000000010001"},
    {17, 1, "000000011111"},
    {18, 1, "000000011010"},
    {19, 1, "000000011001"},
    {20, 1, "000000010111"},
    {21, 1, "000000010110"},
    {0, 12, "0000000011010"},
    {0, 13, "0000000011001"},
    {0, 14, "0000000011000"},
    {0, 15, "0000000010111"},
    {1, 6, "0000000010110"},
    {1, 7, "0000000010101"},
    {2, 5, "0000000010100"},
    {3, 4, "0000000010011"},
    {5, 3, "0000000010010"},
    {9, 2, "0000000010001"},
    {10, 2, "0000000010000"},
    {22, 1, "0000000011111"},
    {23, 1, "0000000011110"},
    {24, 1, "0000000011101"},
    {25, 1, "0000000011100"},
    {26, 1, "0000000011011"},
    {0, 16, "00000000011111"},
    {0, 17, "00000000011110"},
    {0, 18, "00000000011101"},
    {0, 19, "00000000011100"},
    {0, 20, "00000000011011"},
    {0, 21, "00000000011010"},
    {0, 22, "00000000011001"},
    {0, 23, "00000000011000"},
    {0, 24, "00000000010111"},
    {0, 25, "00000000010110"},
    {0, 26, "00000000010101"},
    {0, 27, "00000000010100"},
    {0, 28, "00000000010011"},
    {0, 29, "00000000010010"},
    {0, 30, "00000000010001"},
    {0, 31, "00000000010000"},
    {0, 32, "000000000011000"},
    {0, 33, "000000000010111"},
    {0, 34, "000000000010110"},
    {0, 35, "000000000010101"},
    {0, 36, "000000000010100"},
    {0, 37, "000000000010011"},
    {0, 38, "000000000010010"},
    {0, 39, "000000000010001"},
    {0, 40, "000000000010000"},
    {1, 8, "000000000011111"},
    {1, 9, "000000000011110"},
    {1, 10, "000000000011101"},
    {1, 11, "000000000011100"},
    {1, 12, "000000000011011"},
    {1, 13, "000000000011010"},
    {1, 14, "000000000011001"},
    {1, 15, "0000000000010011"},
    {1, 16, "0000000000010010"},
    {1, 17, "0000000000010001"},
    {1, 18, "0000000000010000"},
    {6, 3, "0000000000010100"},
    {11, 2, "0000000000011010"},
    {12, 2, "0000000000011001"},
    {13, 2, "0000000000011000"},
    {14, 2, "0000000000010111"},
    {15, 2, "0000000000010110"},
    {16, 2, "0000000000010101"},
    {27, 1, "0000000000011111"},
    {28, 1, "0000000000011110"},
    {29, 1, "0000000000011101"},
    {30, 1, "0000000000011100"},
    {31, 1, "0000000000011011"},
};

// Table B.15, DCT coefficients table one: the entries that differ from table zero. Every
// (run, level) not listed here has the same code in both tables.
constexpr Entry kTableOneChanges[] = {
    {0, 1, "10"},         {1, 1, "010"},        {0, 2, "110"},         {2, 1, "00101"},
    {0, 3, "0111"},       {3, 1, "00111"},      {4, 1, "000110"},      {1, 2, "00110"},
    {5, 1, "000111"},     {6, 1, "0000110"},    {7, 1, "0000100"},     {0, 4, "11100"},
    {2, 2, "0000111"},    {8, 1, "0000101"},    {9, 1, "1111000"},     {0, 5, "11101"},
    {0, 6, "000101"},     {1, 3, "1111001"},    {3, 2, "00100110"},    {10, 1, "1111010"},
    {11, 1, "00100001"},  {12, 1, "00100101"},  {13, 1, "00100100"},   {0, 7, "000100"},
    {1, 4, "00100111"},   {2, 3, "11111100"},   {4, 2, "11111101"},    {5, 2, "000000100"},
    {14, 1, "000000101"}, {15, 1, "000000111"}, {16, 1, "0000001101"}, {0, 8, "1111011"},
    {0, 9, "1111100"},    {0, 10, "00100011"},  {0, 11, "00100010"},   {1, 5, "00100000"},
    {2, 4, "0000001100"}, {0, 12, "11111010"},  {0, 13, "11111011"},   {0, 14, "11111110"},
    {0, 15, "11111111"},
};

constexpr std::string_view kDcSizeLuminance[12] = {"100",     "00",       "01",        "101",
                                                   "110",     "1110",     "11110",     "111110",
                                                   "1111110", "11111110", "111111110", "111111111"};
constexpr std::string_view kDcSizeChrominance[12] = {
    "00",     "01",      "10",       "110",       "1110",       "11110",
    "111110", "1111110", "11111110", "111111110", "1111111110", "1111111111"};

constexpr Vlc ToVlc(std::string_view bits) {
  Vlc vlc;
  for (char bit : bits)
    vlc.code = (vlc.code << 1) | (bit == '1' ? 1u : 0u);
  vlc.length = static_cast<int>(bits.size());
  return vlc;
}

struct Tables {
  Vlc codes[2][32][kMaxTableLevel + 1] = {};
  uint8_t bits[2][64 * kBitsTableLevels] = {};
  Vlc dc_size[2][12] = {};  // [luminance][size]
  Tables() {
    for (int size = 0; size < 12; ++size) {
      dc_size[1][size] = ToVlc(kDcSizeLuminance[size]);
      dc_size[0][size] = ToVlc(kDcSizeChrominance[size]);
    }
    for (const Entry& e : kTableZero) {
      codes[0][e.run][e.level] = ToVlc(e.bits);
      codes[1][e.run][e.level] = ToVlc(e.bits);
    }
    for (const Entry& e : kTableOneChanges)
      codes[1][e.run][e.level] = ToVlc(e.bits);
    for (int table = 0; table < 2; ++table) {
      for (int run = 0; run < 64; ++run) {
        for (int level = 1; level < kBitsTableLevels; ++level) {
          Vlc vlc = run < 32 ? codes[table][run][level] : Vlc{};
          // An escape: six code bits, six of run and twelve of level.
          bits[table][run * kBitsTableLevels + level] =
              static_cast<uint8_t>(vlc.length ? vlc.length + 1 : kEscapeBits);
        }
      }
    }
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

constexpr std::array<uint8_t, 64> kZigzag = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The alternate scan as the coefficient order index at each raster position.
constexpr uint8_t kAlternateIndex[64] = {
    0,  4,  6,  20, 22, 36, 38, 52, 1,  5,  7,  21, 23, 37, 39, 53, 2,  8,  19, 24, 34, 40,
    50, 54, 3,  9,  18, 25, 35, 41, 51, 55, 10, 17, 26, 30, 42, 46, 56, 60, 11, 16, 27, 31,
    43, 47, 57, 61, 12, 15, 28, 32, 44, 48, 58, 62, 13, 14, 29, 33, 45, 49, 59, 63};

constexpr std::array<uint8_t, 64> InvertIndex(const uint8_t (&index)[64]) {
  std::array<uint8_t, 64> order = {};
  for (int raster = 0; raster < 64; ++raster)
    order[index[raster]] = static_cast<uint8_t>(raster);
  return order;
}

constexpr std::array<uint8_t, 64> kAlternate = InvertIndex(kAlternateIndex);

constexpr int kNonLinearScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10, 12,
                                     14, 16, 18, 20, 22, 24, 28, 32, 36,  40, 44,
                                     48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

}  // namespace

const std::array<uint8_t, 64> kDefaultIntraMatrix = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

Vlc CoefficientCode(int table, int run, int level) {
  if (run < 0 || run >= 32 || level < 1 || level > kMaxTableLevel) return {};
  return GetTables().codes[table & 1][run][level];
}

Vlc EndOfBlockCode(int table) {
  return table ? Vlc{0b0110, 4} : Vlc{0b10, 2};
}

Vlc DcSizeCode(bool luminance, int size) {
  if (size < 0 || size > 11) return {};
  return GetTables().dc_size[luminance ? 1 : 0][size];
}

int CoefficientBits(int table, int run, int level) {
  if (level >= kBitsTableLevels) return kEscapeBits;
  return GetTables().bits[table & 1][(run & 63) * kBitsTableLevels + level];
}

const uint8_t* CoefficientBitsTable(int table) {
  return GetTables().bits[table & 1];
}

int QuantiserScale(int q_scale_type, int code) {
  if (code < 1 || code > 31) return 0;
  return q_scale_type ? kNonLinearScale[code] : 2 * code;
}

const std::array<uint8_t, 64>& ScanOrder(int alternate_scan) {
  return alternate_scan ? kAlternate : kZigzag;
}

}  // namespace qv::formatswitch
