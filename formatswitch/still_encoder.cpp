#include "formatswitch/still_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <optional>

#include "formatswitch/bit_writer.h"
#include "formatswitch/macroblock_choice.h"
#include "formatswitch/macroblock_transform.h"
#include "formatswitch/parallel_rows.h"
#include "formatswitch/slice_coder.h"
#include "formatswitch/vlc_tables.h"

namespace qv::formatswitch {

namespace {

// Lagrange multiplier per squared quantiser_scale, found by measuring PSNR at equal size.
constexpr float kLambdaPerScaleSquared = 0.2f;
// Beyond the coarsest quantiser scale the multiplier grows by these factors, then AC goes.
constexpr int kExtraLambdaSteps = 8;

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

// Everything before the first slice: the sequence header and its extensions, the group of
// pictures header and the picture headers, ending on a byte boundary.
BitWriter StreamHeaders(const StillSettings& settings) {
  const EncoderParameters& p = settings.parameters;
  BitWriter headers;
  WriteSequenceHeaders(headers, p, BitRateValue(p.bit_rate), settings.intra_matrix,
                       settings.non_intra_matrix);
  WriteGroupOfPicturesHeader(headers, p.time_code);
  WritePictureHeaders(headers, p);
  headers.AlignWithZeros();
  return headers;
}

// The picture's slices coded at the rate settings as the search asks for them. Each slice
// starts on a byte boundary, so the stream size is exactly the headers plus every slice
// rounded up to whole bytes. Slices are coded independently (the DC predictors restart in
// each), so a slice coded once at a setting is kept for reuse.
class SliceCache {
 public:
  SliceCache(const SliceCoder& coder, const std::vector<RateSetting>& rate_settings, int mb_width,
             int mb_height, int64_t fixed_bytes)
      : coder_(coder),
        rate_settings_(rate_settings),
        mb_width_(mb_width),
        mb_height_(mb_height),
        fixed_bytes_(fixed_bytes),
        slices_(rate_settings.size()),
        dct_choices_(static_cast<size_t>(mb_width) * mb_height, 0),
        all_rows_(static_cast<size_t>(mb_height)) {
    std::iota(all_rows_.begin(), all_rows_.end(), 0);
  }

  int mb_width() const { return mb_width_; }
  int mb_height() const { return mb_height_; }
  int64_t fixed_bytes() const { return fixed_bytes_; }
  const std::vector<int>& all_rows() const { return all_rows_; }
  const std::vector<RateSetting>& rate_settings() const { return rate_settings_; }
  int last_setting() const { return static_cast<int>(rate_settings_.size()) - 1; }
  // Slices quantised so far.
  int passes() const { return passes_; }

  // Codes the rows of setting `index` not coded yet, side by side.
  void Code(int index, const std::vector<int>& rows) {
    const bool whole_picture = rows.size() == static_cast<size_t>(mb_height_);
    std::vector<SliceCoding>& coded = slices_[static_cast<size_t>(index)];
    if (coded.empty()) coded.resize(static_cast<size_t>(mb_height_));
    std::vector<int> missing;
    for (int row : rows) {
      if (coded[static_cast<size_t>(row)].scale_code == 0) missing.push_back(row);
    }
    passes_ += static_cast<int>(missing.size());
    ForEachIndependent(missing, [&](int row) {
      coded[static_cast<size_t>(row)] = coder_.Quantise(
          row, rate_settings_[static_cast<size_t>(index)],
          whole_picture ? &dct_choices_[static_cast<size_t>(row) * mb_width_] : nullptr);
    });
  }

  // Row `row` at setting `index`, coded first if it is not yet.
  const SliceCoding& Get(int index, int row) {
    const std::vector<SliceCoding>& coded = slices_[static_cast<size_t>(index)];
    if (coded.empty() || coded[static_cast<size_t>(row)].scale_code == 0) Code(index, {row});
    return slices_[static_cast<size_t>(index)][static_cast<size_t>(row)];
  }

  // The rows of setting `index` coded so far (a row not coded yet has scale_code 0).
  const std::vector<SliceCoding>& Coded(int index) const {
    return slices_[static_cast<size_t>(index)];
  }

  // Every row at setting `index`, coded first where it is not yet.
  const std::vector<SliceCoding>& AllRows(int index) {
    Code(index, all_rows_);
    return slices_[static_cast<size_t>(index)];
  }

  // The exact size of the stream coded at setting `index` throughout.
  int64_t TotalBytes(int index) {
    Code(index, all_rows_);
    int64_t total = fixed_bytes_;
    for (int row = 0; row < mb_height_; ++row)
      total += Get(index, row).Bytes();
    return total;
  }

  // The size of the stream coded at setting `index` throughout, from `rows` alone scaled up.
  int64_t EstimatedBytes(int index, const std::vector<int>& rows) {
    Code(index, rows);
    int64_t sampled = 0;
    for (int row : rows)
      sampled += Get(index, row).Bytes();
    return fixed_bytes_ + sampled * mb_height_ / static_cast<int64_t>(rows.size());
  }

 private:
  const SliceCoder& coder_;
  const std::vector<RateSetting>& rate_settings_;
  const int mb_width_, mb_height_;
  const int64_t fixed_bytes_;
  std::vector<std::vector<SliceCoding>> slices_;  // per setting; per row once asked for
  // dct_type per macroblock as the first whole-picture pass chose it; later passes, at
  // settings close to it, keep it rather than code both transforms again.
  std::vector<uint8_t> dct_choices_;
  std::vector<int> all_rows_;
  int passes_ = 0;
};

// The rows the size estimates code: every twelfth row while the search is wide (`coarse`),
// every sixth (the same rows and as many again) once it is near (`near`).
struct SampleRows {
  std::vector<int> coarse;
  std::vector<int> near;
};

SampleRows ChooseSampleRows(const SliceCache& slices) {
  SampleRows sample;
  for (int row = 3; row < slices.mb_height(); row += 6) {
    sample.near.push_back(row);
    if ((row - 3) % 12 == 0) sample.coarse.push_back(row);
  }
  if (sample.near.empty()) {  // fewer than four rows: all
    sample.coarse = sample.near = slices.all_rows();
  }
  return sample;
}

// Bisects the settings on sampled rows for the finest one whose estimate is within the budget.
int EstimateFittingSetting(SliceCache& slices, int64_t byte_budget) {
  const SampleRows sample = ChooseSampleRows(slices);
  int low = -1, high = slices.last_setting();  // estimates: low over the budget, high within it
  while (high - low > 1) {
    int middle = (low + high) / 2;
    const std::vector<int>& rows = high - low > 8 ? sample.coarse : sample.near;
    (slices.EstimatedBytes(middle, rows) <= byte_budget ? high : low) = middle;
  }
  return high;
}

// From the estimate, whole pictures: the finest setting that fits everywhere. The next finer
// setting is needed in any case, so it is tried first: when the estimate was cautious that
// saves a pass.
int FinestFittingSetting(SliceCache& slices, int estimate, int64_t byte_budget) {
  int fits = estimate;
  if (estimate > 0 && slices.TotalBytes(estimate - 1) <= byte_budget) {
    fits = estimate - 1;
    while (fits > 0 && slices.TotalBytes(fits - 1) <= byte_budget)
      --fits;
  } else {
    while (fits < slices.last_setting() && slices.TotalBytes(fits) > byte_budget)
      ++fits;
  }
  return fits;
}

// Per macroblock, in raster order, the slice coding of setting `index` for its row.
std::vector<const SliceCoding*> WholeSlicesAt(SliceCache& slices, int index) {
  const int mb_width = slices.mb_width();
  std::vector<const SliceCoding*> from(static_cast<size_t>(mb_width) * slices.mb_height());
  for (int row = 0; row < slices.mb_height(); ++row) {
    for (int mx = 0; mx < mb_width; ++mx)
      from[static_cast<size_t>(row) * mb_width + mx] = &slices.Get(index, row);
  }
  return from;
}

// The stream: the headers, every slice with each macroblock from its coding in `from`, and
// the sequence end code.
BitWriter WriteStream(const BitWriter& headers, const SliceCoder& coder,
                      const std::vector<const SliceCoding*>& from, int mb_width, int mb_height,
                      int64_t byte_budget) {
  BitWriter out = headers;
  out.Reserve(static_cast<size_t>(byte_budget) + 4096);
  for (int row = 0; row < mb_height; ++row) {
    coder.Write(out, row, &from[static_cast<size_t>(row) * mb_width]);
  }
  WriteSequenceEnd(out);
  return out;
}

struct MixedStream {
  std::vector<const SliceCoding*> from;
  BitWriter stream;
};

// Each macroblock takes the coarser setting `fits` (whose rows are all coded) or the next
// finer one, whichever costs less in error plus mu times bits (a change of
// quantiser_scale_code within a slice costs six bits), with mu as small as the budget allows.
// The expectation leaves out DC predictions across a change of setting, so the real size is
// checked, with a little room kept back while it is over. Nothing when no mixed stream fits.
std::optional<MixedStream> MixNeighbouringSettings(SliceCache& slices, int fits,
                                                   const BitWriter& headers,
                                                   const SliceCoder& coder, int64_t byte_budget) {
  const int finer = fits - 1;
  const std::vector<RateSetting>& rate_settings = slices.rate_settings();
  const std::vector<SliceCoding>& fine = slices.AllRows(finer);
  const TwoSettings two = {slices.Coded(fits), fine,
                           rate_settings[static_cast<size_t>(fits)].lambda,
                           rate_settings[static_cast<size_t>(finer)].lambda};
  for (int64_t reserve : {0, 8, 32, 128, 512}) {
    std::optional<std::vector<const SliceCoding*>> choice = ChooseMacroblockSettings(
        two, slices.mb_width(), slices.fixed_bytes(), byte_budget - reserve);
    if (!choice) break;
    BitWriter mixed =
        WriteStream(headers, coder, *choice, slices.mb_width(), slices.mb_height(), byte_budget);
    if (static_cast<int64_t>(mixed.Bytes().size()) <= byte_budget) {
      return MixedStream{std::move(*choice), std::move(mixed)};
    }
  }
  return std::nullopt;
}

StillStatistics Statistics(int passes, const std::vector<const SliceCoding*>& from,
                           const RateSetting& fitting) {
  StillStatistics statistics;
  statistics.slice_passes = passes;
  statistics.finest_scale_code = 31;
  statistics.coarsest_scale_code = 1;
  for (const SliceCoding* coded : from) {
    statistics.finest_scale_code = std::min(statistics.finest_scale_code, coded->scale_code);
    statistics.coarsest_scale_code = std::max(statistics.coarsest_scale_code, coded->scale_code);
  }
  statistics.dc_only = fitting.lambda < 0;
  return statistics;
}

}  // namespace

std::vector<uint8_t> EncodeStill(const YCbCrPicture& picture, const StillSettings& settings,
                                 int64_t byte_budget, StillStatistics* statistics) {
  const EncoderParameters& p = settings.parameters;
  const int mb_width = p.horizontal_size / 16, mb_height = p.vertical_size / 16;
  const std::vector<MacroblockCoefficients> macroblocks =
      TransformMacroblocks(picture, p.frame_pred_frame_dct[0] != 0, ScanOrder(p.alternate_scan[0]));
  const SliceCoder coder(settings, macroblocks, mb_width);
  const BitWriter headers = StreamHeaders(settings);
  const int64_t fixed_bytes = static_cast<int64_t>(headers.Bytes().size()) + 4;  // + end code
  const std::vector<RateSetting> rate_settings = RateSettings(p.q_scale_type[0]);
  SliceCache slices(coder, rate_settings, mb_width, mb_height, fixed_bytes);

  const int estimate = EstimateFittingSetting(slices, byte_budget);
  const int fits = FinestFittingSetting(slices, estimate, byte_budget);
  std::vector<const SliceCoding*> from = WholeSlicesAt(slices, fits);
  std::optional<BitWriter> out;  // written when a mixed choice fits, else at the end
  if (fits > 0) {
    if (std::optional<MixedStream> mixed =
            MixNeighbouringSettings(slices, fits, headers, coder, byte_budget)) {
      from = std::move(mixed->from);
      out = std::move(mixed->stream);
    }
  }

  if (statistics) {
    *statistics = Statistics(slices.passes(), from, rate_settings[static_cast<size_t>(fits)]);
  }
  if (!out) out = WriteStream(headers, coder, from, mb_width, mb_height, byte_budget);
  return out->Bytes();
}

}  // namespace qv::formatswitch
