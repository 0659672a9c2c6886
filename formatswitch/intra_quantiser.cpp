#include "formatswitch/intra_quantiser.h"

#include <cmath>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "formatswitch/vlc_tables.h"

namespace qv::formatswitch {

namespace {

constexpr int kMaxLevel = 2047;

// The magnitude a decoder reconstructs from |level| (before saturation and mismatch control):
// (2 * level * W * quantiser_scale) / 32, truncated.
inline int Reconstruct(int level, int weight_times_scale) {
  return (2 * level * weight_times_scale) / 32;
}

// Bit i set when |values[i]| > limit (limit at least 0), sixteen values at a time where the
// processor's vector instructions are at hand.
inline uint64_t AboveMask(const int16_t values[64], int16_t limit) {
  uint64_t mask = 0;
#if defined(__SSE2__)
  const __m128i bound = _mm_set1_epi16(limit);
  for (int i = 0; i < 64; i += 16) {
    __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i));
    __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values + i + 8));
    low = _mm_max_epi16(low, _mm_sub_epi16(_mm_setzero_si128(), low));
    high = _mm_max_epi16(high, _mm_sub_epi16(_mm_setzero_si128(), high));
    __m128i above = _mm_packs_epi16(_mm_cmpgt_epi16(low, bound), _mm_cmpgt_epi16(high, bound));
    mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(above))) << i;
  }
#else
  for (int i = 0; i < 64; ++i) {
    int magnitude = values[i] < 0 ? -values[i] : values[i];
    mask |= static_cast<uint64_t>(magnitude > limit) << i;
  }
#endif
  return mask;
}

// The AC positions whose level may be nonzero, in coefficient order: a position whose whole
// error is below the cost of the shortest code stays zero whatever else happens. |c| > t in
// sixteenths is the same test as c^2 > min_level_cost. Returns how many there are.
int CandidatePositions(const int16_t sixteenths[64], float min_level_cost, uint8_t candidates[64]) {
  const double root = std::sqrt(static_cast<double>(min_level_cost) * 256.0);
  if (root >= 32767) return 0;
  int count = 0;
  for (uint64_t mask = AboveMask(sixteenths, static_cast<int16_t>(root)) & ~uint64_t{1}; mask;
       mask &= mask - 1) {
    candidates[count++] = static_cast<uint8_t>(__builtin_ctzll(mask));
  }
  return count;
}

// The constants of one block's search.
struct SearchCosts {
  float lambda;
  int eob_bits;
  const uint8_t* bits_table;  // CoefficientBitsTable of the block's table
  float min_level_cost;       // lambda times the shortest code (run 0, level 1)
  float hopeless_gap;         // lambda times the widest gap in code lengths
};

// Path search over the positions of nonzero levels. score[i]: the least cost of a path whose
// last nonzero level is at position i, counted as error change over zeroing plus lambda times
// bits; position 0 stands for "no AC level yet".
struct PathSearch {
  float score[64];
  int16_t chosen[64];     // the signed level at the end of that path
  uint8_t previous[64];   // the position of the level before it
  int bits_to[64];        // the bits of that path
  uint8_t survivors[64];  // the positions still worth extending, in order
  int survivor_count = 1;
  float best_end;  // the least cost of a whole block: a path and the end of block
  int best_last = 0;

  explicit PathSearch(const SearchCosts& costs) {
    survivors[0] = 0;
    score[0] = 0;
    bits_to[0] = 0;
    best_end = costs.lambda * static_cast<float>(costs.eob_bits);
  }
};

// The best way for a path to put a nonzero level at position i.
struct Step {
  float score;
  int level, from, bits;
};

// Of the two levels nearest the coefficient (or level 1), and every surviving path before
// position i, the pair of least cost. Nothing when even the nearest level removes too little
// error to pay for the shortest code.
std::optional<Step> BestStep(const PathSearch& search, const SearchCosts& costs, int i,
                             float magnitude, int ws) {
  const float lambda = costs.lambda;
  const float zero_error = magnitude * magnitude;
  int high = static_cast<int>(magnitude * 16.0f / static_cast<float>(ws) + 0.5f);
  if (high > kMaxLevel) high = kMaxLevel;
  if (high == 0) high = 1;
  const float high_error = magnitude - static_cast<float>(Reconstruct(high, ws));
  if (zero_error - high_error * high_error <= costs.min_level_cost) return std::nullopt;
  const int low = high - 1;

  Step best = {1e30f, 0, 0, 0};
  for (int level = high; level >= 1 && level >= low; --level) {
    float error = magnitude - static_cast<float>(Reconstruct(level, ws));
    float distortion = error * error - zero_error;
    const uint8_t* level_bits = costs.bits_table + (level < kBitsTableLevels ? level : 0);
    for (int s = 0; s < search.survivor_count; ++s) {
      int from = search.survivors[s];
      int bits =
          level < kBitsTableLevels ? level_bits[(i - from - 1) * kBitsTableLevels] : kEscapeBits;
      float candidate = search.score[from] + distortion + lambda * static_cast<float>(bits);
      if (candidate < best.score) best = {candidate, level, from, bits};
    }
  }
  return best;
}

// Records the best path ending at position i (coefficient `c`), keeps it as the best block
// when ending there is cheapest so far, and prunes the survivors.
void Extend(PathSearch& search, const SearchCosts& costs, int i, float c, const Step& step) {
  search.score[i] = step.score;
  search.chosen[i] = static_cast<int16_t>(c < 0 ? -step.level : step.level);
  search.previous[i] = static_cast<uint8_t>(step.from);
  search.bits_to[i] = search.bits_to[step.from] + step.bits;

  float end = step.score + costs.lambda * static_cast<float>(costs.eob_bits);
  if (end < search.best_end) {
    search.best_end = end;
    search.best_last = i;
  }
  // A path ending earlier whose score already exceeds this one is not worth extending.
  while (search.survivor_count > 0 &&
         search.score[search.survivors[search.survivor_count - 1]] > step.score) {
    --search.survivor_count;
  }
  // Nor is one that trails the best path by more than the widest gap in code lengths (an
  // escape against the shortest code): no later level can make up for it.
  if (search.survivor_count == 0 ||
      step.score < search.score[search.survivors[0]] + costs.hopeless_gap) {
    search.survivors[search.survivor_count++] = static_cast<uint8_t>(i);
  }
}

// The levels of the best block, from its last level back to the first, written to `pairs`
// in coefficient order; returns how many there are.
int TraceBestPath(const PathSearch& search, int16_t pairs[126]) {
  int count = 0;
  for (int i = search.best_last; i > 0; i = search.previous[i])
    ++count;
  const int levels = count;
  for (int i = search.best_last; i > 0; i = search.previous[i]) {
    --count;
    pairs[2 * count] = static_cast<int16_t>(i);
    pairs[2 * count + 1] = search.chosen[i];
  }
  return levels;
}

}  // namespace

AcResult QuantiseIntraAc(const int16_t sixteenths[64], int scale, float lambda,
                         const IntraCoding& coding, int16_t pairs[126]) {
  AcResult result;
  const int eob_bits = EndOfBlockCode(coding.vlc_table).length;
  result.bits = eob_bits;
  if (lambda < 0) return result;
  const uint8_t* const bits_table = CoefficientBitsTable(coding.vlc_table);
  const SearchCosts costs = {lambda, eob_bits, bits_table,
                             lambda * static_cast<float>(bits_table[1]),  // run 0, level 1
                             lambda * static_cast<float>(kEscapeBits - bits_table[1])};
  const std::array<uint8_t, 64>& weights = *coding.weights;

  uint8_t candidates[64];
  const int candidate_count = CandidatePositions(sixteenths, costs.min_level_cost, candidates);
  if (candidate_count == 0) return result;

  PathSearch search(costs);
  for (int k = 0; k < candidate_count; ++k) {
    const int i = candidates[k];
    const float c = static_cast<float>(sixteenths[i]) * 0.0625f;
    const std::optional<Step> step = BestStep(search, costs, i, std::fabs(c), weights[i] * scale);
    if (step) Extend(search, costs, i, c, *step);
  }

  result.bits = search.bits_to[search.best_last] + eob_bits;
  result.distortion_change = search.best_end - lambda * static_cast<float>(result.bits);
  result.levels = TraceBestPath(search, pairs);
  return result;
}

}  // namespace qv::formatswitch
