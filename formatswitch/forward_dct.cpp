#include "formatswitch/forward_dct.h"

#include <cmath>

namespace qv::formatswitch {

namespace {

struct Basis {
  float c[8][8];  // c[u][x] = C(u) / 2 * cos((2x + 1) u pi / 16)
  Basis() {
    for (int u = 0; u < 8; ++u) {
      double scale = u == 0 ? std::sqrt(0.125) : 0.5;
      for (int x = 0; x < 8; ++x) {
        c[u][x] = static_cast<float>(scale * std::cos((2 * x + 1) * u * M_PI / 16));
      }
    }
  }
};

const Basis& GetBasis() {
  static const Basis basis;
  return basis;
}

}  // namespace

void ForwardDct(const float in[64], float out[64]) {
  const Basis& b = GetBasis();
  float rows[64];
  for (int y = 0; y < 8; ++y) {
    const float* line = in + 8 * y;
    for (int u = 0; u < 8; ++u) {
      float sum = 0;
      for (int x = 0; x < 8; ++x)
        sum += b.c[u][x] * line[x];
      rows[8 * y + u] = sum;
    }
  }
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      float sum = 0;
      for (int y = 0; y < 8; ++y)
        sum += b.c[v][y] * rows[8 * y + u];
      out[8 * v + u] = sum;
    }
  }
}

}  // namespace qv::formatswitch
