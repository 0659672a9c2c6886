#pragma once

namespace qv::formatswitch {

// The two-dimensional 8 x 8 DCT of ISO/IEC 13818-2 annex A, forward: F[v][u] from the samples
// f[y][x], both in raster order (index v * 8 + u). With this scaling F[0][0] is eight times
// the mean and the transform is orthonormal, so squared errors are the same in both domains.
void ForwardDct(const float in[64], float out[64]);

}  // namespace qv::formatswitch
