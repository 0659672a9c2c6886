#include "formatswitch/intra_quantiser.h"

#include <cmath>

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

}  // namespace

AcResult QuantiseIntraAc(const int16_t sixteenths[64], int scale, float lambda,
                         const IntraCoding& coding, int16_t pairs[126]) {
  AcResult result;
  const int eob_bits = EndOfBlockCode(coding.vlc_table).length;
  result.bits = eob_bits;
  if (lambda < 0) return result;
  const uint8_t* const bits_table = CoefficientBitsTable(coding.vlc_table);
  const float min_level_cost = lambda * static_cast<float>(bits_table[1]);  // run 0, level 1
  const float hopeless_gap = lambda * static_cast<float>(kEscapeBits - bits_table[1]);
  const std::array<uint8_t, 64>& weights = *coding.weights;

  // A position whose whole error is below the cost of the shortest code stays zero whatever
  // else happens. |c| > t in sixteenths is the same test as c^2 > min_level_cost.
  const double root = std::sqrt(static_cast<double>(min_level_cost) * 256.0);
  if (root >= 32767) return result;
  uint8_t candidates[64];
  int candidate_count = 0;
  for (uint64_t mask = AboveMask(sixteenths, static_cast<int16_t>(root)) & ~uint64_t{1}; mask;
       mask &= mask - 1) {
    candidates[candidate_count++] = static_cast<uint8_t>(__builtin_ctzll(mask));
  }
  if (candidate_count == 0) return result;

  // Path search over the positions of nonzero levels. score[i]: the least cost of a path
  // whose last nonzero level is at position i, counted as error change over zeroing plus
  // lambda times bits; position 0 stands for "no AC level yet".
  float score[64];
  int16_t chosen[64];
  uint8_t previous[64];
  int bits_to[64];
  uint8_t survivors[64];
  int survivor_count = 1;
  survivors[0] = 0;
  score[0] = 0;
  bits_to[0] = 0;
  float best_end = lambda * static_cast<float>(eob_bits);
  int best_last = 0;

  for (int k = 0; k < candidate_count; ++k) {
    const int i = candidates[k];
    const float c = static_cast<float>(sixteenths[i]) * 0.0625f;
    const float magnitude = std::fabs(c);
    const int ws = weights[i] * scale;
    const float zero_error = magnitude * magnitude;
    int high = static_cast<int>(magnitude * 16.0f / static_cast<float>(ws) + 0.5f);
    if (high > kMaxLevel) high = kMaxLevel;
    if (high == 0) high = 1;
    const float high_error = magnitude - static_cast<float>(Reconstruct(high, ws));
    // Even the nearest level removes too little error to pay for the shortest code.
    if (zero_error - high_error * high_error <= min_level_cost) continue;
    const int low = high - 1;

    float best_score = 1e30f;
    int best_level = 0, best_from = 0, best_bits = 0;
    for (int level = high; level >= 1 && level >= low; --level) {
      float error = magnitude - static_cast<float>(Reconstruct(level, ws));
      float distortion = error * error - zero_error;
      const uint8_t* level_bits = bits_table + (level < kBitsTableLevels ? level : 0);
      for (int s = 0; s < survivor_count; ++s) {
        int from = survivors[s];
        int bits =
            level < kBitsTableLevels ? level_bits[(i - from - 1) * kBitsTableLevels] : kEscapeBits;
        float candidate = score[from] + distortion + lambda * static_cast<float>(bits);
        if (candidate < best_score) {
          best_score = candidate;
          best_level = level;
          best_from = from;
          best_bits = bits;
        }
      }
    }
    score[i] = best_score;
    chosen[i] = static_cast<int16_t>(c < 0 ? -best_level : best_level);
    previous[i] = static_cast<uint8_t>(best_from);
    bits_to[i] = bits_to[best_from] + best_bits;

    float end = best_score + lambda * static_cast<float>(eob_bits);
    if (end < best_end) {
      best_end = end;
      best_last = i;
    }
    // A path ending earlier whose score already exceeds this one is not worth extending.
    while (survivor_count > 0 && score[survivors[survivor_count - 1]] > best_score) {
      --survivor_count;
    }
    // Nor is one that trails the best path by more than the widest gap in code lengths (an
    // escape against the shortest code): no later level can make up for it.
    if (survivor_count == 0 || best_score < score[survivors[0]] + hopeless_gap) {
      survivors[survivor_count++] = static_cast<uint8_t>(i);
    }
  }

  result.bits = bits_to[best_last] + eob_bits;
  result.distortion_change = best_end - lambda * static_cast<float>(result.bits);
  int count = 0;
  for (int i = best_last; i > 0; i = previous[i])
    ++count;
  result.levels = count;
  for (int i = best_last; i > 0; i = previous[i]) {
    --count;
    pairs[2 * count] = static_cast<int16_t>(i);
    pairs[2 * count + 1] = chosen[i];
  }
  return result;
}

}  // namespace qv::formatswitch
