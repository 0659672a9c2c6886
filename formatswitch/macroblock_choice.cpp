#include "formatswitch/macroblock_choice.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "formatswitch/stream_headers.h"

namespace qv::formatswitch {

namespace {

constexpr int kQuantChangeBits = 6;  // intra with quant is one bit longer, plus the code

using Choice = std::vector<const SliceCoding*>;        // per macroblock, in raster order
using RowOptions = std::array<const SliceCoding*, 2>;  // a row's coarser and finer coding

// The forward pass over one row for multiplier mu: for each macroblock and option, the least
// cost (error plus mu times bits) of the row up to it ending in that option, where moving
// between options of different quantiser_scale_code costs mu times the change's bits.
// `back` records, per macroblock and option, the option the best path came from. Returns the
// option the cheapest whole path ends in.
int CheapestPathEnd(const RowOptions& option, int mb_width, double mu, std::vector<uint8_t>& back) {
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
  return cost[1] < cost[0] ? 1 : 0;
}

// Follows `back` from the last macroblock's option `end` to the first, putting each
// macroblock's coding into `row_choice`; returns the bits of the row so coded.
int64_t TraceCheapestPath(const RowOptions& option, int mb_width, int end,
                          const std::vector<uint8_t>& back, const SliceCoding** row_choice) {
  const bool same_code = option[0]->scale_code == option[1]->scale_code;
  int o = end;
  int64_t bits = kSliceHeaderBits;
  for (int mx = mb_width - 1; mx >= 0; --mx) {
    row_choice[mx] = option[o];
    bits += option[o]->mb_bits[static_cast<size_t>(mx)];
    int previous = mx > 0 ? back[static_cast<size_t>(mx) * 2 + o] : o;
    if (previous != o && !same_code) bits += kQuantChangeBits;
    o = previous;
  }
  return bits;
}

// Chooses per macroblock for multiplier mu, into `choice`; returns the bytes it expects.
int64_t ChooseAt(const TwoSettings& two, int mb_width, int64_t fixed_bytes, double mu,
                 Choice& choice) {
  const int mb_height = static_cast<int>(two.coarse.size());
  int64_t total = fixed_bytes;
  std::vector<uint8_t> back(static_cast<size_t>(mb_width) * 2);
  for (int row = 0; row < mb_height; ++row) {
    const RowOptions option = {&two.coarse[static_cast<size_t>(row)],
                               &two.fine[static_cast<size_t>(row)]};
    const int end = CheapestPathEnd(option, mb_width, mu, back);
    const int64_t bits = TraceCheapestPath(option, mb_width, end, back,
                                           &choice[static_cast<size_t>(row) * mb_width]);
    total += (bits + 7) / 8;
  }
  return total;
}

// The least multiplier, found by bisection on its logarithm between a quarter of the finer
// setting's and four times the coarser setting's, whose choice is expected to fit `budget`;
// nothing when even the largest is over. `choice` is scratch.
std::optional<double> LeastFittingMultiplier(const TwoSettings& two, int mb_width,
                                             int64_t fixed_bytes, int64_t budget, Choice& choice) {
  double low = std::log(std::max(two.fine_lambda, 1e-3f) / 4);
  double high = std::log(std::max(two.coarse_lambda, 1e-3f) * 4);
  if (two.coarse_lambda < 0) high = std::log(1e9);
  if (ChooseAt(two, mb_width, fixed_bytes, std::exp(high), choice) > budget) return std::nullopt;
  for (int i = 0; i < 14; ++i) {
    double middle = (low + high) / 2;
    (ChooseAt(two, mb_width, fixed_bytes, std::exp(middle), choice) <= budget ? high : low) =
        middle;
  }
  return std::exp(high);
}

// The bits of row `row` coded as `choice` says, a change of quantiser_scale_code included.
int64_t RowBits(const Choice& choice, int mb_width, int row) {
  const SliceCoding* const* row_from = &choice[static_cast<size_t>(row) * mb_width];
  int64_t bits = kSliceHeaderBits;
  for (int mx = 0; mx < mb_width; ++mx) {
    bits += row_from[mx]->mb_bits[static_cast<size_t>(mx)];
    if (mx > 0 && row_from[mx]->scale_code != row_from[mx - 1]->scale_code) {
      bits += kQuantChangeBits;
    }
  }
  return bits;
}

struct Upgrade {
  double gain_per_bit;
  int row, mx;
};

// The macroblocks on the coarser coding whose error the finer one lowers, the most gain per
// bit first.
std::vector<Upgrade> RankUpgrades(const TwoSettings& two, int mb_width, const Choice& choice) {
  std::vector<Upgrade> upgrades;
  for (int row = 0; row < static_cast<int>(two.coarse.size()); ++row) {
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
  return upgrades;
}

// Moves the ranked macroblocks to the finer coding, one by one, each while the expected size
// stays within `budget`.
void ApplyUpgrades(const TwoSettings& two, int mb_width, int64_t fixed_bytes, int64_t budget,
                   const std::vector<Upgrade>& upgrades, Choice& choice) {
  const int mb_height = static_cast<int>(two.coarse.size());
  std::vector<int64_t> bits_of_row(static_cast<size_t>(mb_height));
  int64_t total = fixed_bytes;
  for (int row = 0; row < mb_height; ++row) {
    bits_of_row[static_cast<size_t>(row)] = RowBits(choice, mb_width, row);
    total += (bits_of_row[static_cast<size_t>(row)] + 7) / 8;
  }
  for (const Upgrade& upgrade : upgrades) {
    size_t at = static_cast<size_t>(upgrade.row) * mb_width + upgrade.mx;
    choice[at] = &two.fine[static_cast<size_t>(upgrade.row)];
    int64_t bits = RowBits(choice, mb_width, upgrade.row);
    int64_t old_bits = bits_of_row[static_cast<size_t>(upgrade.row)];
    int64_t new_total = total - (old_bits + 7) / 8 + (bits + 7) / 8;
    if (new_total <= budget) {
      total = new_total;
      bits_of_row[static_cast<size_t>(upgrade.row)] = bits;
    } else {
      choice[at] = &two.coarse[static_cast<size_t>(upgrade.row)];
    }
  }
}

}  // namespace

std::optional<std::vector<const SliceCoding*>> ChooseMacroblockSettings(const TwoSettings& two,
                                                                        int mb_width,
                                                                        int64_t fixed_bytes,
                                                                        int64_t budget) {
  Choice choice(static_cast<size_t>(mb_width) * two.coarse.size());
  const std::optional<double> mu =
      LeastFittingMultiplier(two, mb_width, fixed_bytes, budget, choice);
  if (!mu) return std::nullopt;
  ChooseAt(two, mb_width, fixed_bytes, *mu, choice);
  ApplyUpgrades(two, mb_width, fixed_bytes, budget, RankUpgrades(two, mb_width, choice), choice);
  return choice;
}

}  // namespace qv::formatswitch
