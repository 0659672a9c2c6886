#pragma once

#include <array>
#include <cstdint>

namespace qv::formatswitch {

// How the AC coefficients of an intra block are quantised and coded.
struct IntraCoding {
  int vlc_table = 1;                       // intra_vlc_format
  const std::array<uint8_t, 64>* weights;  // intra quantiser matrix in coefficient order
};

struct AcResult {
  float distortion_change = 0;  // squared error added by the chosen levels over all-zero AC
  int bits = 0;                 // AC codes with their signs and the end of block
  int levels = 0;               // nonzero AC levels written to the pairs
};

// Chooses the AC levels of one block (coefficients in sixteenths, in coefficient order: the
// order of the stream's scan) for quantiser_scale
// `scale`, minimising squared error + lambda * bits over the run/level paths of the block
// (a trellis search), with the reconstruction rule of ISO/IEC 13818-2 7.4.2.1 for intra
// blocks. Writes each nonzero level as (position in coefficient order, signed level) to
// `pairs`, in coefficient order. A negative lambda sets every AC level to zero.
AcResult QuantiseIntraAc(const int16_t sixteenths[64], int scale, float lambda,
                         const IntraCoding& coding, int16_t pairs[126]);

}  // namespace qv::formatswitch
