#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "formatswitch/bit_writer.h"
#include "formatswitch/intra_quantiser.h"
#include "formatswitch/macroblock_transform.h"
#include "formatswitch/still_encoder.h"

// Coding one slice (one macroblock row) of intra macroblocks at a rate setting: quantising
// it to count its bits and error, and writing it.
namespace qv::formatswitch {

// A rate setting: quantiser_scale_code with its multiplier, in order of falling quality.
struct RateSetting {
  int scale_code;
  float lambda;  // negative: AC dropped
};

// Quantised levels of one slice (one macroblock row) at one rate setting.
struct SliceCoding {
  // Per macroblock: dct_type, then per block the DC level, (position, level) for each nonzero
  // AC level in coefficient order, and 0. Compact, because most slices are coded and dropped.
  std::vector<int16_t> levels;
  std::vector<uint32_t> mb_start;    // where each macroblock's entries begin in `levels`
  std::vector<int32_t> mb_bits;      // each macroblock's bits
  std::vector<float> mb_distortion;  // each macroblock's squared error
  int64_t bits = 0;                  // slice header and macroblocks, before byte alignment
  double distortion = 0;             // squared error of the coded slice
  int scale_code = 0;

  int64_t Bytes() const { return (bits + 7) / 8; }
};

class SliceCoder {
 public:
  SliceCoder(const StillSettings& settings, const std::vector<MacroblockCoefficients>& mbs,
             int mb_width);

  // Quantises one macroblock row at `setting` and counts its bits. With `dct_choices` (one
  // entry per macroblock of the row: 0 undecided, 1 frame, 2 field) a decided macroblock
  // codes only its dct_type, and an undecided one records what it chose.
  SliceCoding Quantise(int row, const RateSetting& setting, uint8_t* dct_choices) const;

  // Writes a slice whose macroblocks come from the codings `from[0..mb_width)`; a macroblock
  // whose quantiser_scale_code differs from the one before it carries the new code.
  void Write(BitWriter& out, int row, const SliceCoding* const* from) const;

 private:
  // The coding of some blocks of one macroblock: their levels, bits and weighted error, and
  // the DC predictor after them.
  struct BlockCoding {
    int16_t levels[4 * (2 + 126)];
    int count = 0;
    int64_t bits = 0;
    double distortion = 0;
    int predictor = 0;
    void Clear() {
      count = 0;
      bits = 0;
      distortion = 0;
    }
    double Cost(float lambda) const {
      return lambda < 0 ? static_cast<double>(bits)
                        : distortion + lambda * static_cast<double>(bits);
    }
  };

  void WriteMacroblockHeader(BitWriter& out, bool quant, int field, int code) const;
  const int16_t* WriteBlock(BitWriter& out, const int16_t* next, bool luminance,
                            int& predictor) const;

  // Codes one block after those already in `coding`; its error counts in full (AC energy
  // left uncoded plus the DC rounding), so that codings of different transforms compare.
  void CodeBlock(const int16_t sixteenths[64], float peak, float energy, bool luminance, int scale,
                 float lambda, BlockCoding& coding) const;
  static void Append(const BlockCoding& coding, SliceCoding& slice);

  const EncoderParameters& p_;
  const std::vector<MacroblockCoefficients>& macroblocks_;
  int mb_width_;
  IntraCoding coding_;
  std::array<uint8_t, 64> weights_;  // the intra quantiser matrix in coefficient order
  int dc_multiplier_, dc_max_, dc_reset_;
  int macroblock_header_bits_;
  int eob_bits_, min_level_bits_;
  bool frame_dct_only_;
};

}  // namespace qv::formatswitch
