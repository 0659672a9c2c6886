#include "formatswitch/still_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "formatswitch/bit_writer.h"
#include "formatswitch/forward_dct.h"
#include "formatswitch/intra_quantiser.h"
#include "formatswitch/vlc_tables.h"

namespace qv::formatswitch {

namespace {

constexpr int kBlocks = 6;  // four luma blocks, Cb, Cr (4:2:0)
// Lagrange multiplier per squared quantiser_scale, found by measuring PSNR at equal size.
constexpr float kLambdaPerScaleSquared = 0.2f;
// Beyond the coarsest quantiser scale the multiplier grows by these factors, then AC goes.
constexpr int kExtraLambdaSteps = 8;

// The transform coefficients of one macroblock and its dct_type.
struct MacroblockCoefficients {
  float block[kBlocks][64];
  bool field_dct = false;
};

// Quantised levels of one slice (one macroblock row) at one rate setting.
struct SliceCoding {
  std::vector<int16_t> levels;  // per macroblock, per block: 64 levels in coefficient order
  int64_t bits = 0;             // slice header and macroblocks, before byte alignment
  double distortion = 0;        // squared error change over all-zero AC
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

// Frame or field DCT for a macroblock: field DCT when the lines of each field are more
// alike than neighbouring lines of the frame, as in interlaced pictures with motion.
bool PrefersFieldDct(const YCbCrPicture& picture, int mx, int my) {
  int64_t frame = 0, field = 0;
  for (int row = 0; row < 16; ++row) {
    const uint8_t* line = &picture.y[static_cast<size_t>(my + row) * picture.width + mx];
    for (int col = 0; col < 16; ++col) {
      if (row + 1 < 16) frame += std::abs(line[col] - line[col + picture.width]);
      if (row + 2 < 16) field += std::abs(line[col] - line[col + 2 * picture.width]);
    }
  }
  return field * 15 < frame * 14;
}

std::vector<MacroblockCoefficients> Transform(const YCbCrPicture& picture, bool frame_dct_only) {
  const int mb_width = picture.width / 16, mb_height = picture.height / 16;
  std::vector<MacroblockCoefficients> macroblocks(static_cast<size_t>(mb_width) * mb_height);
  float samples[64];
  for (int my = 0; my < mb_height; ++my) {
    for (int mx = 0; mx < mb_width; ++mx) {
      MacroblockCoefficients& mb = macroblocks[static_cast<size_t>(my) * mb_width + mx];
      const int x = 16 * mx, y = 16 * my;
      mb.field_dct = !frame_dct_only && PrefersFieldDct(picture, x, y);
      for (int b = 0; b < 4; ++b) {
        int bx = x + 8 * (b & 1);
        // Frame DCT: blocks are the quarters. Field DCT: the upper two hold the top field's
        // lines, the lower two the bottom field's.
        int by = mb.field_dct ? y + (b >> 1) : y + 8 * (b >> 1);
        LoadBlock(picture.y, picture.width, bx, by, mb.field_dct ? 2 : 1, samples);
        ForwardDct(samples, mb.block[b]);
      }
      LoadBlock(picture.cb, picture.width / 2, x / 2, y / 2, 1, samples);
      ForwardDct(samples, mb.block[4]);
      LoadBlock(picture.cr, picture.width / 2, x / 2, y / 2, 1, samples);
      ForwardDct(samples, mb.block[5]);
    }
  }
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
    dc_multiplier_ = 8 >> p_.intra_dc_precision;
    dc_max_ = (1 << (8 + p_.intra_dc_precision)) - 1;
    dc_reset_ = 1 << (7 + p_.intra_dc_precision);
    macroblock_header_bits_ =
        2 + (p_.frame_pred_frame_dct[0] ? 0 : 1) + (p_.concealment_motion_vectors[0] ? 3 : 0);
  }

  // Quantises one macroblock row at `setting` and counts its bits.
  SliceCoding Quantise(int row, const RateSetting& setting) const {
    SliceCoding slice;
    slice.scale_code = setting.scale_code;
    slice.levels.resize(static_cast<size_t>(mb_width_) * kBlocks * 64);
    slice.bits = kSliceHeaderBits;
    const int scale = QuantiserScale(p_.q_scale_type[0], setting.scale_code);
    int predictor[3] = {dc_reset_, dc_reset_, dc_reset_};
    for (int mx = 0; mx < mb_width_; ++mx) {
      const MacroblockCoefficients& mb = macroblocks_[static_cast<size_t>(row) * mb_width_ + mx];
      slice.bits += macroblock_header_bits_;
      for (int b = 0; b < kBlocks; ++b) {
        int16_t* levels = &slice.levels[(static_cast<size_t>(mx) * kBlocks + b) * 64];
        int dc = static_cast<int>(std::lround(mb.block[b][0] / static_cast<float>(dc_multiplier_)));
        dc = std::clamp(dc, 0, dc_max_);
        levels[0] = static_cast<int16_t>(dc);
        int component = b < 4 ? 0 : b - 3;
        int size = DcSize(dc - predictor[component]);
        predictor[component] = dc;
        slice.bits += DcSizeCode(component == 0, size).length + size;
        AcResult ac = QuantiseIntraAc(mb.block[b], scale, setting.lambda, coding_, levels);
        slice.bits += ac.bits;
        slice.distortion += ac.distortion_change;
      }
    }
    return slice;
  }

  void Write(BitWriter& out, int row, const SliceCoding& slice) const {
    WriteSliceHeader(out, row, slice.scale_code);
    int predictor[3] = {dc_reset_, dc_reset_, dc_reset_};
    const Vlc eob = EndOfBlockCode(coding_.vlc_table);
    for (int mx = 0; mx < mb_width_; ++mx) {
      const MacroblockCoefficients& mb = macroblocks_[static_cast<size_t>(row) * mb_width_ + mx];
      out.Put(1, 1);  // macroblock_address_increment 1
      out.Put(1, 1);  // macroblock_type: intra
      if (!p_.frame_pred_frame_dct[0]) out.Put(mb.field_dct ? 1 : 0, 1);  // dct_type
      if (p_.concealment_motion_vectors[0]) {
        out.Put(1, 1);  // motion_code 0, horizontal
        out.Put(1, 1);  // motion_code 0, vertical
        out.Put(1, 1);  // marker_bit
      }
      for (int b = 0; b < kBlocks; ++b) {
        const int16_t* levels = &slice.levels[(static_cast<size_t>(mx) * kBlocks + b) * 64];
        int component = b < 4 ? 0 : b - 3;
        int difference = levels[0] - predictor[component];
        predictor[component] = levels[0];
        int size = DcSize(difference);
        Vlc size_code = DcSizeCode(component == 0, size);
        out.Put(size_code.code, size_code.length);
        if (size > 0) {
          // dc_dct_differential: negative values are sent as difference + 2^size - 1.
          int value = difference > 0 ? difference : difference + (1 << size) - 1;
          out.Put(static_cast<uint32_t>(value), size);
        }
        int run = 0;
        for (int i = 1; i < 64; ++i) {
          int level = levels[i];
          if (level == 0) {
            ++run;
            continue;
          }
          Vlc code = CoefficientCode(coding_.vlc_table, run, std::abs(level));
          if (code.length) {
            out.Put(code.code, code.length);
            out.Put(level < 0 ? 1 : 0, 1);
          } else {
            out.Put(kEscapeCode.code, kEscapeCode.length);
            out.Put(static_cast<uint32_t>(run), 6);
            out.Put(static_cast<uint32_t>(level) & 0xFFF, 12);
          }
          run = 0;
        }
        out.Put(eob.code, eob.length);
      }
    }
  }

 private:
  const EncoderParameters& p_;
  const std::vector<MacroblockCoefficients>& macroblocks_;
  int mb_width_;
  IntraCoding coding_;
  std::array<uint8_t, 64> weights_;
  int dc_multiplier_, dc_max_, dc_reset_;
  int macroblock_header_bits_;
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
  auto slice = [&](int index, int row) -> const SliceCoding& {
    std::vector<SliceCoding>& coded = slices[static_cast<size_t>(index)];
    if (coded.empty()) coded.resize(static_cast<size_t>(mb_height));
    SliceCoding& entry = coded[static_cast<size_t>(row)];
    if (entry.scale_code == 0) {
      entry = coder.Quantise(row, rate_settings[static_cast<size_t>(index)]);
      ++passes;
    }
    return entry;
  };
  auto total_bytes = [&](int index) {
    int64_t total = fixed_bytes;
    for (int row = 0; row < mb_height; ++row)
      total += slice(index, row).Bytes();
    return total;
  };

  // First a search on every fourth row, scaled up, for where the whole picture will fit...
  std::vector<int> sample_rows;
  for (int row = 1; row < mb_height; row += 4)
    sample_rows.push_back(row);
  auto estimated_bytes = [&](int index) {
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
  std::vector<SliceCoding> chosen;
  for (int row = 0; row < mb_height; ++row)
    chosen.push_back(slice(fits, row));
  if (fits > 0) {
    const int finer = fits - 1;
    std::vector<int> order(static_cast<size_t>(mb_height));
    std::iota(order.begin(), order.end(), 0);
    auto gain = [&](int row) {
      const SliceCoding& better = slice(finer, row);
      double bytes = static_cast<double>(better.Bytes() - chosen[row].Bytes());
      double reduction = chosen[row].distortion - better.distortion;
      return bytes <= 0 ? 1e30 : reduction / bytes;
    };
    std::sort(order.begin(), order.end(), [&](int a, int b) { return gain(a) > gain(b); });
    int64_t total = total_bytes(fits);
    for (int row : order) {
      int64_t extra = slice(finer, row).Bytes() - chosen[row].Bytes();
      if (total + extra <= byte_budget) {
        total += extra;
        chosen[row] = slice(finer, row);
      }
    }
  }

  BitWriter out = std::move(headers);
  for (int row = 0; row < mb_height; ++row)
    coder.Write(out, row, chosen[row]);
  WriteSequenceEnd(out);

  if (statistics) {
    statistics->slice_passes = passes;
    statistics->finest_scale_code = 31;
    statistics->coarsest_scale_code = 1;
    for (const SliceCoding& slice : chosen) {
      statistics->finest_scale_code = std::min(statistics->finest_scale_code, slice.scale_code);
      statistics->coarsest_scale_code = std::max(statistics->coarsest_scale_code, slice.scale_code);
    }
    statistics->dc_only = rate_settings[static_cast<size_t>(fits)].lambda < 0;
  }
  return out.Bytes();
}

}  // namespace qv::formatswitch
