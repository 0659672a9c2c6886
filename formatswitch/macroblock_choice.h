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

// Chooses for each macroblock the coarser or the finer coding, the one costing less in error
// plus mu times bits (a change of quantiser_scale_code within a slice costs six bits), for the
// least mu whose expected stream fits `budget` bytes: bisection on the logarithm of mu between
// the two settings' own multipliers, widened; then, since alike macroblocks change sides
// at the same mu, the coarser macroblocks that gain most per bit move to the finer
// setting while the expected size allows. False when even the coarser setting is over.
// Expected sizes count the slices' bits and headers exactly but take each macroblock's DC
// codes from its own slice coding; a caller checks the real size. Returns per macroblock, in
// raster order, the slice coding to write it from; nothing when even the coarser setting is
// over the budget.
std::optional<std::vector<const SliceCoding*>> ChooseMacroblockSettings(const TwoSettings& two,
                                                                        int mb_width,
                                                                        int64_t fixed_bytes,
                                                                        int64_t budget);

}  // namespace qv::formatswitch
