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

}  // namespace

std::vector<uint8_t> EncodeStill(const YCbCrPicture& picture, const StillSettings& settings,
                                 int64_t byte_budget, StillStatistics* statistics) {
  const EncoderParameters& p = settings.parameters;
  const int mb_width = p.horizontal_size / 16, mb_height = p.vertical_size / 16;
  std::vector<MacroblockCoefficients> macroblocks =
      TransformMacroblocks(picture, p.frame_pred_frame_dct[0] != 0, ScanOrder(p.alternate_scan[0]));
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

  // First a search on a sample of rows, scaled up, for where the whole picture will fit:
  // every twelfth row while the search is wide, every sixth (the same rows and as many
  // again) once it is near...
  std::vector<int> coarse_rows, sample_rows;
  for (int row = 3; row < mb_height; row += 6) {
    sample_rows.push_back(row);
    if ((row - 3) % 12 == 0) coarse_rows.push_back(row);
  }
  if (sample_rows.empty()) coarse_rows = sample_rows = all_rows;  // fewer than four rows: all
  auto estimated_bytes = [&](int index, const std::vector<int>& rows) {
    code_rows(index, rows);
    int64_t sampled = 0;
    for (int row : rows)
      sampled += slice(index, row).Bytes();
    return fixed_bytes + sampled * mb_height / static_cast<int64_t>(rows.size());
  };
  int low = -1, high = last_setting;  // estimates: low over the budget, high within it
  while (high - low > 1) {
    int middle = (low + high) / 2;
    const std::vector<int>& rows = high - low > 8 ? coarse_rows : sample_rows;
    (estimated_bytes(middle, rows) <= byte_budget ? high : low) = middle;
  }
  // ...then whole pictures from there: the finest setting that fits everywhere. The next
  // finer setting is needed in any case, so it is tried first: when the estimate was cautious
  // that saves a pass.
  int fits = high;
  if (high > 0 && total_bytes(high - 1) <= byte_budget) {
    fits = high - 1;
    while (fits > 0 && total_bytes(fits - 1) <= byte_budget)
      --fits;
  } else {
    while (fits < last_setting && total_bytes(fits) > byte_budget)
      ++fits;
  }

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
    const TwoSettings two = {slices[static_cast<size_t>(fits)], slices[static_cast<size_t>(finer)],
                             rate_settings[static_cast<size_t>(fits)].lambda,
                             rate_settings[static_cast<size_t>(finer)].lambda};
    // The expectation leaves out DC predictions across a change of setting, so the real size
    // is checked, with a little room kept back while it is over.
    for (int64_t reserve : {0, 8, 32, 128, 512}) {
      std::optional<std::vector<const SliceCoding*>> choice =
          ChooseMacroblockSettings(two, mb_width, fixed_bytes, byte_budget - reserve);
      if (!choice) break;
      BitWriter mixed = write_all(*choice);
      if (static_cast<int64_t>(mixed.Bytes().size()) <= byte_budget) {
        out = std::move(mixed);
        from = std::move(*choice);
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
