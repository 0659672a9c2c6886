#include "formatswitch/macroblock_choice.h"

#include <gtest/gtest.h>

namespace qv::formatswitch {
namespace {

// A slice of `count` macroblocks, each with the given bits and error.
SliceCoding Slice(int scale_code, int count, int32_t bits, float distortion) {
  SliceCoding slice;
  slice.scale_code = scale_code;
  for (int mx = 0; mx < count; ++mx) {
    slice.mb_start.push_back(0);
    slice.mb_bits.push_back(bits);
    slice.mb_distortion.push_back(distortion);
  }
  slice.bits = kSliceHeaderBits + int64_t{count} * bits;
  slice.distortion = double{distortion} * count;
  return slice;
}

int64_t ExpectedBytes(const std::vector<const SliceCoding*>& choice, int mb_width,
                      int64_t fixed_bytes) {
  int64_t total = fixed_bytes;
  for (size_t start = 0; start < choice.size(); start += static_cast<size_t>(mb_width)) {
    int64_t bits = kSliceHeaderBits;
    for (int mx = 0; mx < mb_width; ++mx) {
      bits += choice[start + mx]->mb_bits[static_cast<size_t>(mx)];
      if (mx > 0 && choice[start + mx]->scale_code != choice[start + mx - 1]->scale_code) bits += 6;
    }
    total += (bits + 7) / 8;
  }
  return total;
}

TEST(MacroblockChoice, SpendsTheBudgetOnTheMacroblocksThatGainMost) {
  constexpr int kWidth = 10, kRows = 4, kFixed = 100;
  // Rows 0 and 1 gain much from the finer coding, rows 2 and 3 little, at the same cost.
  std::vector<SliceCoding> coarse, fine;
  for (int row = 0; row < kRows; ++row) {
    coarse.push_back(Slice(11, kWidth, 100, 5000));
    fine.push_back(Slice(10, kWidth, 140, row < 2 ? 1000 : 4800));
  }
  const TwoSettings two = {coarse, fine, 40.0f, 30.0f};
  const int64_t all_coarse = kFixed + kRows * ((kSliceHeaderBits + kWidth * 100 + 7) / 8);
  const int64_t all_fine = kFixed + kRows * ((kSliceHeaderBits + kWidth * 140 + 7) / 8);

  // Room for everything finer: everything is.
  auto choice = ChooseMacroblockSettings(two, kWidth, kFixed, all_fine);
  ASSERT_TRUE(choice);
  for (size_t i = 0; i < choice->size(); ++i)
    EXPECT_EQ((*choice)[i]->scale_code, 10) << i;

  // Room for about half: the rows that gain most go finer first, and the budget holds.
  const int64_t half = (all_coarse + all_fine) / 2;
  choice = ChooseMacroblockSettings(two, kWidth, kFixed, half);
  ASSERT_TRUE(choice);
  EXPECT_LE(ExpectedBytes(*choice, kWidth, kFixed), half);
  EXPECT_GT(ExpectedBytes(*choice, kWidth, kFixed), half - 10);
  int finer_in_gaining_rows = 0, finer_in_other_rows = 0;
  for (size_t i = 0; i < choice->size(); ++i) {
    if ((*choice)[i]->scale_code != 10) continue;
    (i < 2 * kWidth ? finer_in_gaining_rows : finer_in_other_rows) += 1;
  }
  EXPECT_EQ(finer_in_gaining_rows, 2 * kWidth);
  EXPECT_LT(finer_in_other_rows, finer_in_gaining_rows);

  // Exactly the coarser coding's size: nothing can go finer. Below it: no choice at all.
  choice = ChooseMacroblockSettings(two, kWidth, kFixed, all_coarse);
  ASSERT_TRUE(choice);
  for (const SliceCoding* coding : *choice)
    EXPECT_EQ(coding->scale_code, 11);
  EXPECT_FALSE(ChooseMacroblockSettings(two, kWidth, kFixed, all_coarse - 1));
}

}  // namespace
}  // namespace qv::formatswitch
