#include "formatswitch/macroblock_choice.h"

#include <algorithm>
#include <cmath>

#include "formatswitch/stream_headers.h"

namespace qv::formatswitch {

std::optional<std::vector<const SliceCoding*>> ChooseMacroblockSettings(const TwoSettings& two,
                                                                        int mb_width,
                                                                        int64_t fixed_bytes,
                                                                        int64_t budget) {
  const int mb_height = static_cast<int>(two.coarse.size());
  constexpr int kQuantChangeBits = 6;  // intra with quant is one bit longer, plus the code
  std::vector<const SliceCoding*> choice(static_cast<size_t>(mb_width) * mb_height);
  // Chooses per macroblock for multiplier mu; returns the bytes it expects.
  auto select = [&](double mu) {
    int64_t total = fixed_bytes;
    std::vector<uint8_t> back(static_cast<size_t>(mb_width) * 2);
    for (int row = 0; row < mb_height; ++row) {
      const SliceCoding* option[2] = {&two.coarse[static_cast<size_t>(row)],
                                      &two.fine[static_cast<size_t>(row)]};
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

  double low = std::log(std::max(two.fine_lambda, 1e-3f) / 4);
  double high = std::log(std::max(two.coarse_lambda, 1e-3f) * 4);
  if (two.coarse_lambda < 0) high = std::log(1e9);
  if (select(std::exp(high)) > budget) return std::nullopt;
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
    const SliceCoding &coarse = two.coarse[static_cast<size_t>(row)],
                      &fine = two.fine[static_cast<size_t>(row)];
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
    choice[at] = &two.fine[static_cast<size_t>(upgrade.row)];
    int64_t bits = row_bits(choice, upgrade.row);
    int64_t old_bits = bits_of_row[static_cast<size_t>(upgrade.row)];
    int64_t new_total = total - (old_bits + 7) / 8 + (bits + 7) / 8;
    if (new_total <= budget) {
      total = new_total;
      bits_of_row[static_cast<size_t>(upgrade.row)] = bits;
    } else {
      choice[at] = &two.coarse[static_cast<size_t>(upgrade.row)];
    }
  }
  return choice;
}

}  // namespace qv::formatswitch
