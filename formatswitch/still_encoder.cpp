#include "formatswitch/still_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <optional>

#include "formatswitch/bit_writer.h"
#include "formatswitch/forward_dct.h"
#include "formatswitch/intra_quantiser.h"
#include "formatswitch/parallel_rows.h"
#include "formatswitch/vlc_tables.h"

namespace qv::formatswitch {

namespace {

constexpr int kBlocks = 6;  // four luma blocks, Cb, Cr (4:2:0)
// Lagrange multiplier per squared quantiser_scale, found by measuring PSNR at equal size.
constexpr float kLambdaPerScaleSquared = 0.2f;
// Errors in Cb and Cr count two thirds as much as errors in Y', sample for sample: the 6:1:1
// weighting of Y', Cb and Cr that codec comparisons use for 4:2:0 pictures.
constexpr float kChromaWeight = 2.0f / 3.0f;
// Beyond the coarsest quantiser scale the multiplier grows by these factors, then AC goes.
constexpr int kExtraLambdaSteps = 8;

// The transform coefficients of one macroblock: the luma blocks both as frame DCT and as
// field DCT (dct_type is chosen per rate setting), then Cb and Cr.
struct MacroblockCoefficients {
  // Coefficients in sixteenths, which keeps the picture's transform in half the memory.
  int16_t luma[2][4][64];  // [dct_type][block]
  int16_t chroma[2][64];
  float luma_peak[2][4];  // the largest squared AC coefficient of each block
  float chroma_peak[2];
  float luma_energy[2][4];  // the sum of squared AC coefficients of each block
  float chroma_energy[2];
  uint8_t dct_types;  // the dct_type values to try: bit 0 frame, bit 1 field
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

// A rate setting: quantiser_scale_code with its multiplier, in order of falling quality.
struct RateSetting {
  int scale_code;
  float lambda;  // negative: AC dropped
};

std::vector<RateSetting> RateSettings(int q_scale_type) {
  const float k = kLambdaPerScaleSquared;
  std::vector<RateSetting> settings;
  // Below the finest quantiser scale the multiplier falls, so small pictures keep gaining.
  float finest =
      k * static_cast<float>(QuantiserScale(q_scale_type, 1) * QuantiserScale(q_scale_type, 1));
  for (int i = kExtraLambdaSteps / 2; i > 0; --i)
    settings.push_back({1, finest / static_cast<float>(1 << i)});
  for (int code = 1; code <= 31; ++code) {
    float scale = static_cast<float>(QuantiserScale(q_scale_type, code));
    settings.push_back({code, k * scale * scale});
  }
  float lambda = settings.back().lambda;
  for (int i = 0; i < kExtraLambdaSteps; ++i) {
    lambda *= 2;
    settings.push_back({31, lambda});
  }
  settings.push_back({31, -1});
  return settings;
}

// Copies an 8 x 8 block from a plane: every line (`line_step` 1) or every other (2).
void LoadBlock(const std::vector<uint8_t>& plane, int stride, int x, int y, int line_step,
               float out[64]) {
  for (int row = 0; row < 8; ++row) {
    const uint8_t* line = &plane[static_cast<size_t>(y + row * line_step) * stride + x];
    for (int col = 0; col < 8; ++col)
      out[8 * row + col] = line[col];
  }
}

void ToSixteenths(const float coefficients[64], int16_t out[64]) {
  // DC is at most 8 x 255 and AC less, so sixteen times either fits 16 bits. Rounding by an
  // offset and truncation keeps the loop simple enough to run on several values at once.
  for (int i = 0; i < 64; ++i) {
    float scaled = std::min(std::max(coefficients[i] * 16.0f, -32767.0f), 32767.0f);
    out[i] = static_cast<int16_t>(static_cast<int>(scaled + 32768.5f) - 32768);
  }
}

// The largest squared AC coefficient and the sum of them, from the stored sixteenths.
void MeasureAc(const int16_t block[64], float& peak, float& energy) {
  int32_t largest = 0;
  int64_t sum = 0;
  for (int i = 1; i < 64; ++i) {
    int32_t square = block[i] * block[i];
    largest = std::max(largest, square);
    sum += square;
  }
  peak = static_cast<float>(largest) / 256.0f;
  energy = static_cast<float>(sum) / 256.0f;
}

std::vector<MacroblockCoefficients> Transform(const YCbCrPicture& picture, bool frame_dct_only) {
  const int mb_width = picture.width / 16, mb_height = picture.height / 16;
  std::vector<MacroblockCoefficients> macroblocks(static_cast<size_t>(mb_width) * mb_height);
  std::vector<int> rows(static_cast<size_t>(mb_height));
  std::iota(rows.begin(), rows.end(), 0);
  ForEachIndependent(rows, [&](int my) {
    float samples[64], coefficients[64];
    for (int mx = 0; mx < mb_width; ++mx) {
      MacroblockCoefficients& mb = macroblocks[static_cast<size_t>(my) * mb_width + mx];
      const int x = 16 * mx, y = 16 * my;
      // Judging dct_type from line differences alone loses on smooth pictures: both
      // transforms are kept and each setting codes both.
      mb.dct_types = frame_dct_only ? 1 : 3;
      for (int field = 0; field < 2; ++field) {
        if (!(mb.dct_types & (1 << field))) continue;
        for (int b = 0; b < 4; ++b) {
          // Frame DCT: blocks are the quarters. Field DCT: the upper two hold the top field's
          // lines, the lower two the bottom field's.
          int bx = x + 8 * (b & 1), by = field ? y + (b >> 1) : y + 8 * (b >> 1);
          LoadBlock(picture.y, picture.width, bx, by, field ? 2 : 1, samples);
          ForwardDct(samples, coefficients);
          ToSixteenths(coefficients, mb.luma[field][b]);
          MeasureAc(mb.luma[field][b], mb.luma_peak[field][b], mb.luma_energy[field][b]);
        }
      }
      for (int c = 0; c < 2; ++c) {
        LoadBlock(c ? picture.cr : picture.cb, picture.width / 2, x / 2, y / 2, 1, samples);
        ForwardDct(samples, coefficients);
        ToSixteenths(coefficients, mb.chroma[c]);
        MeasureAc(mb.chroma[c], mb.chroma_peak[c], mb.chroma_energy[c]);
      }
    }
  });
  return macroblocks;
}

int DcSize(int difference) {
  int magnitude = std::abs(difference), size = 0;
  while (magnitude) {
    ++size;
    magnitude >>= 1;
  }
  return size;
}

class SliceCoder {
 public:
  SliceCoder(const StillSettings& settings, const std::vector<MacroblockCoefficients>& mbs,
             int mb_width)
      : p_(settings.parameters), macroblocks_(mbs), mb_width_(mb_width) {
    coding_.vlc_table = p_.intra_vlc_format[0];
    coding_.scan = &ScanOrder(p_.alternate_scan[0]);
    weights_ = settings.intra_matrix ? *settings.intra_matrix : kDefaultIntraMatrix;
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

  // Quantises one macroblock row at `setting` and counts its bits.
  // Quantises one macroblock row at `setting` and counts its bits. With `dct_choices` (one
  // entry per macroblock of the row: 0 undecided, 1 frame, 2 field) a decided macroblock
  // codes only its dct_type, and an undecided one records what it chose.
  SliceCoding Quantise(int row, const RateSetting& setting, uint8_t* dct_choices) const {
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
      if (types == 2 ||
          (types == 3 && luma[1].Cost(setting.lambda) < luma[0].Cost(setting.lambda))) {
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
        CodeBlock(mb.chroma[c], mb.chroma_peak[c], mb.chroma_energy[c], false, scale,
                  setting.lambda, chroma);
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
  void Write(BitWriter& out, int row, const SliceCoding* const* from) const {
    int code = from[0]->scale_code;
    WriteSliceHeader(out, row, code);
    int predictor[3] = {dc_reset_, dc_reset_, dc_reset_};
    const Vlc eob = EndOfBlockCode(coding_.vlc_table);
    for (int mx = 0; mx < mb_width_; ++mx) {
      const SliceCoding& slice = *from[mx];
      const int16_t* next = &slice.levels[slice.mb_start[static_cast<size_t>(mx)]];
      const bool quant = slice.scale_code != code;
      code = slice.scale_code;
      out.Put(1, 1);                               // macroblock_address_increment 1
      out.Put(quant ? 0b01 : 0b1, quant ? 2 : 1);  // macroblock_type: intra, with quant
      const int field = *next++;
      if (!frame_dct_only_) out.Put(static_cast<uint32_t>(field), 1);  // dct_type
      if (quant) out.Put(static_cast<uint32_t>(code), 5);              // quantiser_scale_code
      if (p_.concealment_motion_vectors[0]) {
        out.Put(1, 1);  // motion_code 0, horizontal
        out.Put(1, 1);  // motion_code 0, vertical
        out.Put(1, 1);  // marker_bit
      }
      for (int b = 0; b < kBlocks; ++b) {
        int component = b < 4 ? 0 : b - 3;
        int dc = *next++;
        int difference = dc - predictor[component];
        predictor[component] = dc;
        int size = DcSize(difference);
        Vlc size_code = DcSizeCode(component == 0, size);
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
        ++next;  // the block's end
        out.Put(eob.code, eob.length);
      }
    }
  }

 private:
  // The coding of some blocks of one macroblock: their levels, bits and error change, and the
  // DC predictor after them.
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

  // Codes one block after those already in `coding`; its error counts in full (AC energy
  // left uncoded plus the DC rounding), so that codings of different transforms compare.
  void CodeBlock(const int16_t sixteenths[64], float peak, float energy, bool luminance, int scale,
                 float lambda, BlockCoding& coding) const {
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

  static void Append(const BlockCoding& coding, SliceCoding& slice) {
    slice.levels.insert(slice.levels.end(), coding.levels, coding.levels + coding.count);
    slice.bits += coding.bits;
    slice.distortion += coding.distortion;
  }

  const EncoderParameters& p_;
  const std::vector<MacroblockCoefficients>& macroblocks_;
  int mb_width_;
  IntraCoding coding_;
  std::array<uint8_t, 64> weights_;
  int dc_multiplier_, dc_max_, dc_reset_;
  int macroblock_header_bits_;
  int eob_bits_, min_level_bits_;
  bool frame_dct_only_;
};

}  // namespace

std::vector<uint8_t> EncodeStill(const YCbCrPicture& picture, const StillSettings& settings,
                                 int64_t byte_budget, StillStatistics* statistics) {
  const EncoderParameters& p = settings.parameters;
  const int mb_width = p.horizontal_size / 16, mb_height = p.vertical_size / 16;
  std::vector<MacroblockCoefficients> macroblocks =
      Transform(picture, p.frame_pred_frame_dct[0] != 0);
  SliceCoder coder(settings, macroblocks, mb_width);

  BitWriter headers;
  WriteSequenceHeaders(headers, p, BitRateValue(p.bit_rate), settings.intra_matrix,
                       settings.non_intra_matrix);
  WriteGroupOfPicturesHeader(headers, p.time_code);
  WritePictureHeaders(headers, p);
  headers.AlignWithZeros();
  const int64_t fixed_bytes = static_cast<int64_t>(headers.Bytes().size()) + 4;  // + end code

  // Each slice starts on a byte boundary, so the stream size is exactly the headers plus
  // every slice rounded up to whole bytes. Slices are coded independently (the DC
  // predictors restart in each), so a slice coded once at a setting is kept for reuse.
  const std::vector<RateSetting> rate_settings = RateSettings(p.q_scale_type[0]);
  const int last_setting = static_cast<int>(rate_settings.size()) - 1;
  std::vector<std::vector<SliceCoding>> slices(rate_settings.size());
  int passes = 0;
  // dct_type per macroblock as the first whole-picture pass chose it; later passes, at
  // settings close to it, keep it rather than code both transforms again.
  std::vector<uint8_t> dct_choices(static_cast<size_t>(mb_width) * mb_height, 0);
  // Codes the rows of `index` not coded yet, side by side.
  auto code_rows = [&](int index, const std::vector<int>& rows) {
    const bool whole_picture = rows.size() == static_cast<size_t>(mb_height);
    std::vector<SliceCoding>& coded = slices[static_cast<size_t>(index)];
    if (coded.empty()) coded.resize(static_cast<size_t>(mb_height));
    std::vector<int> missing;
    for (int row : rows) {
      if (coded[static_cast<size_t>(row)].scale_code == 0) missing.push_back(row);
    }
    passes += static_cast<int>(missing.size());
    ForEachIndependent(missing, [&](int row) {
      coded[static_cast<size_t>(row)] = coder.Quantise(
          row, rate_settings[static_cast<size_t>(index)],
          whole_picture ? &dct_choices[static_cast<size_t>(row) * mb_width] : nullptr);
    });
  };
  std::vector<int> all_rows(static_cast<size_t>(mb_height));
  std::iota(all_rows.begin(), all_rows.end(), 0);
  auto slice = [&](int index, int row) -> const SliceCoding& {
    const std::vector<SliceCoding>& coded = slices[static_cast<size_t>(index)];
    if (coded.empty() || coded[static_cast<size_t>(row)].scale_code == 0) code_rows(index, {row});
    return slices[static_cast<size_t>(index)][static_cast<size_t>(row)];
  };
  auto total_bytes = [&](int index) {
    code_rows(index, all_rows);
    int64_t total = fixed_bytes;
    for (int row = 0; row < mb_height; ++row)
      total += slice(index, row).Bytes();
    return total;
  };

  // First a search on every sixth row, scaled up, for where the whole picture will fit...
  std::vector<int> sample_rows;
  for (int row = 3; row < mb_height; row += 6)
    sample_rows.push_back(row);
  auto estimated_bytes = [&](int index) {
    code_rows(index, sample_rows);
    int64_t sampled = 0;
    for (int row : sample_rows)
      sampled += slice(index, row).Bytes();
    return fixed_bytes + sampled * mb_height / static_cast<int64_t>(sample_rows.size());
  };
  int low = -1, high = last_setting;  // estimates: low over the budget, high within it
  while (high - low > 1) {
    int middle = (low + high) / 2;
    (estimated_bytes(middle) <= byte_budget ? high : low) = middle;
  }
  // ...then whole pictures from there: the finest setting that fits everywhere.
  int fits = high;
  while (fits < last_setting && total_bytes(fits) > byte_budget)
    ++fits;
  while (fits > 0 && total_bytes(fits - 1) <= byte_budget)
    --fits;

  // Then each macroblock takes the coarser or the finer of the two neighbouring settings,
  // whichever costs less in error plus mu times bits (a change of quantiser_scale_code within
  // a slice costs six bits), with mu as small as the budget allows.
  std::vector<const SliceCoding*> from(static_cast<size_t>(mb_width) * mb_height);
  for (int row = 0; row < mb_height; ++row) {
    for (int mx = 0; mx < mb_width; ++mx)
      from[static_cast<size_t>(row) * mb_width + mx] = &slice(fits, row);
  }
  auto write_all = [&](const std::vector<const SliceCoding*>& choice) {
    BitWriter out = headers;
    out.Reserve(static_cast<size_t>(byte_budget) + 4096);
    for (int row = 0; row < mb_height; ++row) {
      coder.Write(out, row, &choice[static_cast<size_t>(row) * mb_width]);
    }
    WriteSequenceEnd(out);
    return out;
  };
  std::optional<BitWriter> out;  // written when a mixed choice fits, else at the end
  if (fits > 0) {
    const int finer = fits - 1;
    code_rows(finer, all_rows);
    constexpr int kQuantChangeBits = 6;  // intra with quant is one bit longer, plus the code
    std::vector<const SliceCoding*> choice(from.size());
    // Chooses per macroblock for multiplier mu; returns the bytes it expects.
    auto select = [&](double mu) {
      int64_t total = fixed_bytes;
      std::vector<uint8_t> back(static_cast<size_t>(mb_width) * 2);
      for (int row = 0; row < mb_height; ++row) {
        const SliceCoding* option[2] = {&slice(fits, row), &slice(finer, row)};
        const bool same_code = option[0]->scale_code == option[1]->scale_code;
        const double change = same_code ? 0 : mu * kQuantChangeBits;
        double cost[2];
        for (int mx = 0; mx < mb_width; ++mx) {
          double next[2];
          for (int o = 0; o < 2; ++o) {
            double own = option[o]->mb_distortion[static_cast<size_t>(mx)] +
                         mu * option[o]->mb_bits[static_cast<size_t>(mx)];
            if (mx == 0) {
              next[o] = own;
              continue;
            }
            bool stay = cost[o] <= cost[1 - o] + change;
            back[static_cast<size_t>(mx) * 2 + o] = static_cast<uint8_t>(stay ? o : 1 - o);
            next[o] = own + (stay ? cost[o] : cost[1 - o] + change);
          }
          cost[0] = next[0];
          cost[1] = next[1];
        }
        int o = cost[1] < cost[0] ? 1 : 0;
        int64_t bits = kSliceHeaderBits;
        for (int mx = mb_width - 1; mx >= 0; --mx) {
          choice[static_cast<size_t>(row) * mb_width + mx] = option[o];
          bits += option[o]->mb_bits[static_cast<size_t>(mx)];
          int previous = mx > 0 ? back[static_cast<size_t>(mx) * 2 + o] : o;
          if (previous != o && !same_code) bits += kQuantChangeBits;
          o = previous;
        }
        total += (bits + 7) / 8;
      }
      return total;
    };
    auto row_bits = [&](const std::vector<const SliceCoding*>& picked, int row) {
      const SliceCoding* const* row_from = &picked[static_cast<size_t>(row) * mb_width];
      int64_t bits = kSliceHeaderBits;
      for (int mx = 0; mx < mb_width; ++mx) {
        bits += row_from[mx]->mb_bits[static_cast<size_t>(mx)];
        if (mx > 0 && row_from[mx]->scale_code != row_from[mx - 1]->scale_code) {
          bits += kQuantChangeBits;
        }
      }
      return bits;
    };
    // The best choice expected to fit `budget`: bisection on the logarithm of mu between
    // the two settings' own multipliers, widened; then, since alike macroblocks change sides
    // at the same mu, the coarser macroblocks that gain most per bit move to the finer
    // setting while the expected size allows. False when even the coarser setting is over.
    auto choose = [&](int64_t budget) {
      double low = std::log(std::max(rate_settings[static_cast<size_t>(finer)].lambda, 1e-3f) / 4);
      double high = std::log(std::max(rate_settings[static_cast<size_t>(fits)].lambda, 1e-3f) * 4);
      if (rate_settings[static_cast<size_t>(fits)].lambda < 0) high = std::log(1e9);
      if (select(std::exp(high)) > budget) return false;
      for (int i = 0; i < 14; ++i) {
        double middle = (low + high) / 2;
        (select(std::exp(middle)) <= budget ? high : low) = middle;
      }
      select(std::exp(high));
      struct Upgrade {
        double gain_per_bit;
        int row, mx;
      };
      std::vector<Upgrade> upgrades;
      std::vector<int64_t> bits_of_row(static_cast<size_t>(mb_height));
      int64_t total = fixed_bytes;
      for (int row = 0; row < mb_height; ++row) {
        bits_of_row[static_cast<size_t>(row)] = row_bits(choice, row);
        total += (bits_of_row[static_cast<size_t>(row)] + 7) / 8;
        const SliceCoding &coarse = slice(fits, row), &fine = slice(finer, row);
        for (int mx = 0; mx < mb_width; ++mx) {
          if (choice[static_cast<size_t>(row) * mb_width + mx] != &coarse) continue;
          double gain = coarse.mb_distortion[static_cast<size_t>(mx)] -
                        fine.mb_distortion[static_cast<size_t>(mx)];
          double bits = std::max(
              1, fine.mb_bits[static_cast<size_t>(mx)] - coarse.mb_bits[static_cast<size_t>(mx)]);
          if (gain > 0) upgrades.push_back({gain / bits, row, mx});
        }
      }
      std::sort(upgrades.begin(), upgrades.end(),
                [](const Upgrade& a, const Upgrade& b) { return a.gain_per_bit > b.gain_per_bit; });
      for (const Upgrade& upgrade : upgrades) {
        size_t at = static_cast<size_t>(upgrade.row) * mb_width + upgrade.mx;
        choice[at] = &slice(finer, upgrade.row);
        int64_t bits = row_bits(choice, upgrade.row);
        int64_t old_bits = bits_of_row[static_cast<size_t>(upgrade.row)];
        int64_t new_total = total - (old_bits + 7) / 8 + (bits + 7) / 8;
        if (new_total <= budget) {
          total = new_total;
          bits_of_row[static_cast<size_t>(upgrade.row)] = bits;
        } else {
          choice[at] = &slice(fits, upgrade.row);
        }
      }
      return true;
    };
    // The expectation leaves out DC predictions across a change of setting, so the real size
    // is checked, with a little room kept back while it is over.
    for (int64_t reserve : {0, 8, 32, 128, 512}) {
      if (!choose(byte_budget - reserve)) break;
      BitWriter mixed = write_all(choice);
      if (static_cast<int64_t>(mixed.Bytes().size()) <= byte_budget) {
        out = std::move(mixed);
        from = choice;
        break;
      }
    }
  }

  if (statistics) {
    statistics->slice_passes = passes;
    statistics->finest_scale_code = 31;
    statistics->coarsest_scale_code = 1;
    for (const SliceCoding* coded : from) {
      statistics->finest_scale_code = std::min(statistics->finest_scale_code, coded->scale_code);
      statistics->coarsest_scale_code =
          std::max(statistics->coarsest_scale_code, coded->scale_code);
    }
    statistics->dc_only = rate_settings[static_cast<size_t>(fits)].lambda < 0;
  }
  if (!out) out = write_all(from);
  return out->Bytes();
}

}  // namespace qv::formatswitch
