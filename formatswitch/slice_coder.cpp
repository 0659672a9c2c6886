#include "formatswitch/slice_coder.h"

#include <algorithm>
#include <cstdlib>

#include "formatswitch/stream_headers.h"
#include "formatswitch/vlc_tables.h"

namespace qv::formatswitch {

namespace {

constexpr int kBlocks = 6;  // four luma blocks, Cb, Cr (4:2:0)
// Errors in Cb and Cr count two thirds as much as errors in Y', sample for sample: the 6:1:1
// weighting of Y', Cb and Cr that codec comparisons use for 4:2:0 pictures.
constexpr float kChromaWeight = 2.0f / 3.0f;

int DcSize(int difference) {
  int magnitude = std::abs(difference), size = 0;
  while (magnitude) {
    ++size;
    magnitude >>= 1;
  }
  return size;
}

}  // namespace

SliceCoder::SliceCoder(const StillSettings& settings,
                       const std::vector<MacroblockCoefficients>& mbs, int mb_width)
    : p_(settings.parameters), macroblocks_(mbs), mb_width_(mb_width) {
  coding_.vlc_table = p_.intra_vlc_format[0];
  const std::array<uint8_t, 64>& scan = ScanOrder(p_.alternate_scan[0]);
  const QuantiserMatrix& matrix =
      settings.intra_matrix ? *settings.intra_matrix : kDefaultIntraMatrix;
  for (int i = 0; i < 64; ++i)
    weights_[static_cast<size_t>(i)] = matrix[scan[static_cast<size_t>(i)]];
  coding_.weights = &weights_;
  frame_dct_only_ = p_.frame_pred_frame_dct[0] != 0;
  dc_multiplier_ = 8 >> p_.intra_dc_precision;
  dc_max_ = (1 << (8 + p_.intra_dc_precision)) - 1;
  dc_reset_ = 1 << (7 + p_.intra_dc_precision);
  eob_bits_ = EndOfBlockCode(coding_.vlc_table).length;
  min_level_bits_ = CoefficientBits(coding_.vlc_table, 0, 1);
  macroblock_header_bits_ =
      2 + (p_.frame_pred_frame_dct[0] ? 0 : 1) + (p_.concealment_motion_vectors[0] ? 3 : 0);
}

// Quantises one macroblock row at `setting` and counts its bits. With `dct_choices` (one
// entry per macroblock of the row: 0 undecided, 1 frame, 2 field) a decided macroblock
// codes only its dct_type, and an undecided one records what it chose.
SliceCoding SliceCoder::Quantise(int row, const RateSetting& setting, uint8_t* dct_choices) const {
  SliceCoding slice;
  slice.scale_code = setting.scale_code;
  slice.levels.reserve(static_cast<size_t>(mb_width_) * (1 + kBlocks * 8));
  slice.bits = kSliceHeaderBits;
  const int scale = QuantiserScale(p_.q_scale_type[0], setting.scale_code);
  int predictor[3] = {dc_reset_, dc_reset_, dc_reset_};
  BlockCoding luma[2];
  for (int mx = 0; mx < mb_width_; ++mx) {
    const MacroblockCoefficients& mb = macroblocks_[static_cast<size_t>(row) * mb_width_ + mx];
    const int64_t bits_before = slice.bits;
    const double distortion_before = slice.distortion;
    slice.mb_start.push_back(static_cast<uint32_t>(slice.levels.size()));
    slice.bits += macroblock_header_bits_;
    // dct_type: whichever of frame and field DCT costs less at this setting.
    int field = 0;
    const uint8_t types = dct_choices && dct_choices[mx] ? dct_choices[mx] : mb.dct_types;
    for (int type = 0; type < 2; ++type) {
      if (!(types & (1 << type))) continue;
      luma[type].Clear();
      luma[type].predictor = predictor[0];
      for (int b = 0; b < 4; ++b) {
        CodeBlock(mb.luma[type][b], mb.luma_peak[type][b], mb.luma_energy[type][b], true, scale,
                  setting.lambda, luma[type]);
      }
    }
    if (types == 2 || (types == 3 && luma[1].Cost(setting.lambda) < luma[0].Cost(setting.lambda))) {
      field = 1;
    }
    if (dct_choices) dct_choices[mx] = static_cast<uint8_t>(1 << field);
    slice.levels.push_back(static_cast<int16_t>(field));
    Append(luma[field], slice);
    predictor[0] = luma[field].predictor;
    for (int c = 0; c < 2; ++c) {
      BlockCoding& chroma = luma[1 - field];  // reused as scratch
      chroma.Clear();
      chroma.predictor = predictor[1 + c];
      CodeBlock(mb.chroma[c], mb.chroma_peak[c], mb.chroma_energy[c], false, scale, setting.lambda,
                chroma);
      Append(chroma, slice);
      predictor[1 + c] = chroma.predictor;
    }
    slice.mb_bits.push_back(static_cast<int32_t>(slice.bits - bits_before));
    slice.mb_distortion.push_back(static_cast<float>(slice.distortion - distortion_before));
  }
  return slice;
}

// Writes a slice whose macroblocks come from the codings `from[0..mb_width)`; a macroblock
// whose quantiser_scale_code differs from the one before it carries the new code.
void SliceCoder::Write(BitWriter& out, int row, const SliceCoding* const* from) const {
  int code = from[0]->scale_code;
  WriteSliceHeader(out, row, code);
  int predictor[3] = {dc_reset_, dc_reset_, dc_reset_};
  for (int mx = 0; mx < mb_width_; ++mx) {
    const SliceCoding& slice = *from[mx];
    const int16_t* next = &slice.levels[slice.mb_start[static_cast<size_t>(mx)]];
    const bool quant = slice.scale_code != code;
    code = slice.scale_code;
    const int field = *next++;
    WriteMacroblockHeader(out, quant, field, code);
    for (int b = 0; b < kBlocks; ++b) {
      int component = b < 4 ? 0 : b - 3;
      next = WriteBlock(out, next, component == 0, predictor[component]);
    }
  }
}

// The macroblock's address increment (always 1), its type (intra, with quant when the
// quantiser_scale_code changes), dct_type where frame and field DCT may both be used, the
// new code, and the zero concealment motion vector where the picture carries them.
void SliceCoder::WriteMacroblockHeader(BitWriter& out, bool quant, int field, int code) const {
  out.Put(1, 1);                               // macroblock_address_increment 1
  out.Put(quant ? 0b01 : 0b1, quant ? 2 : 1);  // macroblock_type: intra, with quant
  if (!frame_dct_only_) out.Put(static_cast<uint32_t>(field), 1);  // dct_type
  if (quant) out.Put(static_cast<uint32_t>(code), 5);              // quantiser_scale_code
  if (p_.concealment_motion_vectors[0]) {
    out.Put(1, 1);  // motion_code 0, horizontal
    out.Put(1, 1);  // motion_code 0, vertical
    out.Put(1, 1);  // marker_bit
  }
}

// One block from its entries at `next` (the DC level, then (position, level) pairs, then 0):
// the DC difference from `predictor`, which becomes the DC level, each AC level as a run and
// level code or an escape, and the end of block. Returns where the next block's entries begin.
const int16_t* SliceCoder::WriteBlock(BitWriter& out, const int16_t* next, bool luminance,
                                      int& predictor) const {
  int dc = *next++;
  int difference = dc - predictor;
  predictor = dc;
  int size = DcSize(difference);
  Vlc size_code = DcSizeCode(luminance, size);
  out.Put(size_code.code, size_code.length);
  if (size > 0) {
    // dc_dct_differential: negative values are sent as difference + 2^size - 1.
    int value = difference > 0 ? difference : difference + (1 << size) - 1;
    out.Put(static_cast<uint32_t>(value), size);
  }
  for (int position = 0; *next != 0; next += 2) {
    int run = next[0] - position - 1, level = next[1];
    position = next[0];
    Vlc code = CoefficientCode(coding_.vlc_table, run, std::abs(level));
    if (code.length) {
      out.Put(code.code, code.length);
      out.Put(level < 0 ? 1 : 0, 1);
    } else {
      out.Put(kEscapeCode.code, kEscapeCode.length);
      out.Put(static_cast<uint32_t>(run), 6);
      out.Put(static_cast<uint32_t>(level) & 0xFFF, 12);
    }
  }
  const Vlc eob = EndOfBlockCode(coding_.vlc_table);
  out.Put(eob.code, eob.length);
  return next + 1;  // past the block's end
}

// Codes one block after those already in `coding`; its error counts in full (AC energy
// left uncoded plus the DC rounding), so that codings of different transforms compare.
void SliceCoder::CodeBlock(const int16_t sixteenths[64], float peak, float energy, bool luminance,
                           int scale, float lambda, BlockCoding& coding) const {
  const float dc_coefficient = static_cast<float>(sixteenths[0]) * 0.0625f;
  // A weighted error is the same choice as the full error at a larger multiplier.
  const float weight = luminance ? 1.0f : kChromaWeight;
  if (lambda >= 0) lambda /= weight;
  // The DC level: of the two nearest, the one with the lower error plus bits of its
  // difference from the prediction (the upper one on a tie, as rounding would take).
  const float exact = dc_coefficient / static_cast<float>(dc_multiplier_);
  const int below = std::clamp(static_cast<int>(exact), 0, dc_max_);
  int dc = below, dc_bits = 0;
  float dc_error = 0, best = 1e30f;
  for (int candidate = below; candidate <= std::min(below + 1, dc_max_); ++candidate) {
    float error = dc_coefficient - static_cast<float>(candidate * dc_multiplier_);
    int size = DcSize(candidate - coding.predictor);
    int bits = DcSizeCode(luminance, size).length + size;
    float cost = error * error + std::max(lambda, 0.0f) * static_cast<float>(bits);
    if (cost <= best) {
      best = cost;
      dc = candidate;
      dc_bits = bits;
      dc_error = error;
    }
  }
  coding.distortion += weight * (energy + dc_error * dc_error);
  coding.levels[coding.count++] = static_cast<int16_t>(dc);
  coding.predictor = dc;
  coding.bits += dc_bits;
  if (peak <= lambda * static_cast<float>(min_level_bits_)) {
    // No AC level can pay for its bits: the block ends at once.
    coding.bits += eob_bits_;
    coding.levels[coding.count++] = 0;
    return;
  }
  AcResult ac = QuantiseIntraAc(sixteenths, scale, lambda, coding_, &coding.levels[coding.count]);
  coding.count += 2 * ac.levels;
  coding.levels[coding.count++] = 0;
  coding.bits += ac.bits;
  coding.distortion += weight * ac.distortion_change;
}

void SliceCoder::Append(const BlockCoding& coding, SliceCoding& slice) {
  slice.levels.insert(slice.levels.end(), coding.levels, coding.levels + coding.count);
  slice.bits += coding.bits;
  slice.distortion += coding.distortion;
}

}  // namespace qv::formatswitch
