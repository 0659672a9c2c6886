#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "formatswitch/slice_coder.h"

namespace qv::formatswitch {

// Every slice of the picture coded at two neighbouring rate settings.
struct TwoSettings {
  const std::vector<SliceCoding>& coarse;
  const std::vector<SliceCoding>& fine;
  float coarse_lambda;  // negative when the coarser setting drops AC
  float fine_lambda;
};

// Chooses for each macroblock the coarser or the finer coding: the one costing less in error
// plus mu times bits, a change of quantiser_scale_code within a slice costing six bits more,
// for the least mu (found by bisection on its logarithm) whose stream is expected to fit
// `budget` bytes. Alike macroblocks change sides at the same mu, so the coarser ones that
// gain most error per bit then move to the finer coding while the expected size allows.
// Expected sizes count headers (`fixed_bytes`) and slices exactly but take each macroblock's
// DC codes from its own slice coding; the caller checks the real size. Returns per macroblock,
// in raster order, the slice coding to write it from; nothing when even the coarser coding
// alone is over the budget.
std::optional<std::vector<const SliceCoding*>> ChooseMacroblockSettings(const TwoSettings& two,
                                                                        int mb_width,
                                                                        int64_t fixed_bytes,
                                                                        int64_t budget);

}  // namespace qv::formatswitch
