#include "formatswitch/intra_quantiser.h"

#include <cmath>

#include "formatswitch/vlc_tables.h"

namespace qv::formatswitch {

namespace {

constexpr int kMaxLevel = 2047;

// The magnitude a decoder reconstructs from |level| (before saturation and mismatch control):
// (2 * level * W * quantiser_scale) / 32, truncated.
inline int Reconstruct(int level, int weight_times_scale) {
  return (2 * level * weight_times_scale) / 32;
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
  // else happens; the rest are gathered without branching on the data.
  uint8_t candidates[64];
  int candidate_count = 0;
  const float threshold = min_level_cost * 256.0f;  // in squared sixteenths
  const int32_t integer_threshold =
      threshold >= 2147483647.0f ? 2147483647 : static_cast<int32_t>(threshold);
  for (int i = 1; i < 64; ++i) {
    int32_t value = sixteenths[i];
    candidates[candidate_count] = static_cast<uint8_t>(i);
    candidate_count += value * value > integer_threshold ? 1 : 0;
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
