#include "formatswitch/still_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

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
// Beyond the coarsest quantiser scale the multiplier grows by these factors, then AC goes.
constexpr int kExtraLambdaSteps = 8;

// The transform coefficients of one macroblock: the luma blocks both as frame DCT and as
// field DCT (dct_type is chosen per rate setting), then Cb and Cr.
struct MacroblockCoefficients {
  float luma[2][4][64];  // [dct_type][block]
  float chroma[2][64];
  float luma_peak[2][4];  // the largest squared AC coefficient of each block
  float chroma_peak[2];
  float luma_energy[2][4];  // the sum of squared AC coefficients of each block
  float chroma_energy[2];
};

// Quantised levels of one slice (one macroblock row) at one rate setting.
struct SliceCoding {
  // Per macroblock: dct_type, then per block the DC level, (position, level) for each nonzero
  // AC level in coefficient order, and 0. Compact, because most slices are coded and dropped.
  std::vector<int16_t> levels;
  int64_t bits = 0;       // slice header and macroblocks, before byte alignment
  double distortion = 0;  // squared error of the coded slice
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

void MeasureAc(const float block[64], float& peak, float& energy) {
  peak = 0;
  energy = 0;
  for (int i = 1; i < 64; ++i) {
    peak = std::max(peak, block[i] * block[i]);
    energy += block[i] * block[i];
  }
}

std::vector<MacroblockCoefficients> Transform(const YCbCrPicture& picture, bool frame_dct_only) {
  const int mb_width = picture.width / 16, mb_height = picture.height / 16;
  std::vector<MacroblockCoefficients> macroblocks(static_cast<size_t>(mb_width) * mb_height);
  std::vector<int> rows(static_cast<size_t>(mb_height));
  std::iota(rows.begin(), rows.end(), 0);
  ForEachIndependent(rows, [&](int my) {
    float samples[64];
    for (int mx = 0; mx < mb_width; ++mx) {
      MacroblockCoefficients& mb = macroblocks[static_cast<size_t>(my) * mb_width + mx];
      const int x = 16 * mx, y = 16 * my;
      for (int field = 0; field < (frame_dct_only ? 1 : 2); ++field) {
        for (int b = 0; b < 4; ++b) {
          // Frame DCT: blocks are the quarters. Field DCT: the upper two hold the top field's
          // lines, the lower two the bottom field's.
          int bx = x + 8 * (b & 1), by = field ? y + (b >> 1) : y + 8 * (b >> 1);
          LoadBlock(picture.y, picture.width, bx, by, field ? 2 : 1, samples);
          ForwardDct(samples, mb.luma[field][b]);
          MeasureAc(mb.luma[field][b], mb.luma_peak[field][b], mb.luma_energy[field][b]);
        }
      }
      LoadBlock(picture.cb, picture.width / 2, x / 2, y / 2, 1, samples);
      ForwardDct(samples, mb.chroma[0]);
      LoadBlock(picture.cr, picture.width / 2, x / 2, y / 2, 1, samples);
      ForwardDct(samples, mb.chroma[1]);
      for (int c = 0; c < 2; ++c)
        MeasureAc(mb.chroma[c], mb.chroma_peak[c], mb.chroma_energy[c]);
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
  SliceCoding Quantise(int row, const RateSetting& setting) const {
    SliceCoding slice;
    slice.scale_code = setting.scale_code;
    slice.levels.reserve(static_cast<size_t>(mb_width_) * (1 + kBlocks * 8));
    slice.bits = kSliceHeaderBits;
    const int scale = QuantiserScale(p_.q_scale_type[0], setting.scale_code);
    int predictor[3] = {dc_reset_, dc_reset_, dc_reset_};
    BlockCoding luma[2];
    for (int mx = 0; mx < mb_width_; ++mx) {
      const MacroblockCoefficients& mb = macroblocks_[static_cast<size_t>(row) * mb_width_ + mx];
      slice.bits += macroblock_header_bits_;
      // dct_type: whichever of frame and field DCT costs less at this setting.
      int field = 0;
      for (int type = 0; type < (frame_dct_only_ ? 1 : 2); ++type) {
        luma[type].Clear();
        luma[type].predictor = predictor[0];
        for (int b = 0; b < 4; ++b) {
          CodeBlock(mb.luma[type][b], mb.luma_peak[type][b], mb.luma_energy[type][b], true, scale,
                    setting.lambda, luma[type]);
        }
      }
      if (!frame_dct_only_ && luma[1].Cost(setting.lambda) < luma[0].Cost(setting.lambda)) {
        field = 1;
      }
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
    }
    return slice;
  }

  void Write(BitWriter& out, int row, const SliceCoding& slice) const {
    WriteSliceHeader(out, row, slice.scale_code);
    int predictor[3] = {dc_reset_, dc_reset_, dc_reset_};
    const Vlc eob = EndOfBlockCode(coding_.vlc_table);
    const int16_t* next = slice.levels.data();
    for (int mx = 0; mx < mb_width_; ++mx) {
      out.Put(1, 1);  // macroblock_address_increment 1
      out.Put(1, 1);  // macroblock_type: intra
      const int field = *next++;
      if (!frame_dct_only_) out.Put(static_cast<uint32_t>(field), 1);  // dct_type
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
  void CodeBlock(const float coefficients[64], float peak, float energy, bool luminance, int scale,
                 float lambda, BlockCoding& coding) const {
    // The DC level: of the two nearest, the one with the lower error plus bits of its
    // difference from the prediction (the upper one on a tie, as rounding would take).
    const float exact = coefficients[0] / static_cast<float>(dc_multiplier_);
    const int below = std::clamp(static_cast<int>(exact), 0, dc_max_);
    int dc = below, dc_bits = 0;
    float dc_error = 0, best = 1e30f;
    for (int candidate = below; candidate <= std::min(below + 1, dc_max_); ++candidate) {
      float error = coefficients[0] - static_cast<float>(candidate * dc_multiplier_);
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
    coding.distortion += energy + dc_error * dc_error;
    coding.levels[coding.count++] = static_cast<int16_t>(dc);
    coding.predictor = dc;
    coding.bits += dc_bits;
    if (peak <= lambda * static_cast<float>(min_level_bits_)) {
      // No AC level can pay for its bits: the block ends at once.
      coding.bits += eob_bits_;
      coding.levels[coding.count++] = 0;
      return;
    }
    AcResult ac =
        QuantiseIntraAc(coefficients, scale, lambda, coding_, &coding.levels[coding.count]);
    coding.count += 2 * ac.levels;
    coding.levels[coding.count++] = 0;
    coding.bits += ac.bits;
    coding.distortion += ac.distortion_change;
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
  // Codes the rows of `index` not coded yet, side by side.
  auto code_rows = [&](int index, const std::vector<int>& rows) {
    std::vector<SliceCoding>& coded = slices[static_cast<size_t>(index)];
    if (coded.empty()) coded.resize(static_cast<size_t>(mb_height));
    std::vector<int> missing;
    for (int row : rows) {
      if (coded[static_cast<size_t>(row)].scale_code == 0) missing.push_back(row);
    }
    passes += static_cast<int>(missing.size());
    ForEachIndependent(missing, [&](int row) {
      coded[static_cast<size_t>(row)] =
          coder.Quantise(row, rate_settings[static_cast<size_t>(index)]);
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
  for (int row = 2; row < mb_height; row += 6)
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

  // Then the slices that gain most error reduction per byte move to the next finer setting
  // while the budget allows.
  std::vector<int> chosen(static_cast<size_t>(mb_height), fits);
  if (fits > 0) {
    const int finer = fits - 1;
    std::vector<double> gain(static_cast<size_t>(mb_height));
    for (int row = 0; row < mb_height; ++row) {
      const SliceCoding &now = slice(fits, row), &better = slice(finer, row);
      double bytes = static_cast<double>(better.Bytes() - now.Bytes());
      gain[row] = bytes <= 0 ? 1e30 : (now.distortion - better.distortion) / bytes;
    }
    std::vector<int> order = all_rows;
    std::sort(order.begin(), order.end(), [&](int a, int b) { return gain[a] > gain[b]; });
    int64_t total = total_bytes(fits);
    for (int row : order) {
      int64_t extra = slice(finer, row).Bytes() - slice(fits, row).Bytes();
      if (total + extra <= byte_budget) {
        total += extra;
        chosen[row] = finer;
      }
    }
  }

  BitWriter out = std::move(headers);
  for (int row = 0; row < mb_height; ++row)
    coder.Write(out, row, slice(chosen[row], row));
  WriteSequenceEnd(out);

  if (statistics) {
    statistics->slice_passes = passes;
    statistics->finest_scale_code = 31;
    statistics->coarsest_scale_code = 1;
    for (int row = 0; row < mb_height; ++row) {
      const SliceCoding& coded = slice(chosen[row], row);
      statistics->finest_scale_code = std::min(statistics->finest_scale_code, coded.scale_code);
      statistics->coarsest_scale_code = std::max(statistics->coarsest_scale_code, coded.scale_code);
    }
    statistics->dc_only = rate_settings[static_cast<size_t>(fits)].lambda < 0;
  }
  return out.Bytes();
}

}  // namespace qv::formatswitch
