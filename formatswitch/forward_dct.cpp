#include "formatswitch/forward_dct.h"

#include <cmath>

namespace qv::formatswitch {

namespace {

// ck = cos(k pi / 16) / 2: the basis values of the eight-point transform with the scaling of
// ISO/IEC 13818-2 annex A (C(0) = 1 / sqrt(2) makes the DC weight c4 as well).
const float c1 = static_cast<float>(std::cos(1 * M_PI / 16) / 2);
const float c2 = static_cast<float>(std::cos(2 * M_PI / 16) / 2);
const float c3 = static_cast<float>(std::cos(3 * M_PI / 16) / 2);
const float c4 = static_cast<float>(std::cos(4 * M_PI / 16) / 2);
const float c5 = static_cast<float>(std::cos(5 * M_PI / 16) / 2);
const float c6 = static_cast<float>(std::cos(6 * M_PI / 16) / 2);
const float c7 = static_cast<float>(std::cos(7 * M_PI / 16) / 2);

// One eight-point transform of samples `stride` apart, split into its even part (sums of
// mirrored samples) and odd part (their differences).
inline void Transform8(const float* in, float* out, int stride) {
  const float s07 = in[0] + in[7 * stride], d07 = in[0] - in[7 * stride];
  const float s16 = in[stride] + in[6 * stride], d16 = in[stride] - in[6 * stride];
  const float s25 = in[2 * stride] + in[5 * stride], d25 = in[2 * stride] - in[5 * stride];
  const float s34 = in[3 * stride] + in[4 * stride], d34 = in[3 * stride] - in[4 * stride];
  const float a0 = s07 + s34, a3 = s07 - s34, a1 = s16 + s25, a2 = s16 - s25;
  out[0] = c4 * (a0 + a1);
  out[4 * stride] = c4 * (a0 - a1);
  out[2 * stride] = c2 * a3 + c6 * a2;
  out[6 * stride] = c6 * a3 - c2 * a2;
  out[1 * stride] = c1 * d07 + c3 * d16 + c5 * d25 + c7 * d34;
  out[3 * stride] = c3 * d07 - c7 * d16 - c1 * d25 - c5 * d34;
  out[5 * stride] = c5 * d07 - c1 * d16 + c7 * d25 + c3 * d34;
  out[7 * stride] = c7 * d07 - c5 * d16 + c3 * d25 - c1 * d34;
}

}  // namespace

void ForwardDct(const float in[64], float out[64]) {
  float rows[64];
  for (int y = 0; y < 8; ++y)
    Transform8(in + 8 * y, rows + 8 * y, 1);
  for (int u = 0; u < 8; ++u)
    Transform8(rows + u, out + u, 8);
}

}  // namespace qv::formatswitch
