#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/bitmap.h"

// Synthetic pictures for the logo and still tests and the benchmark, made in code so no
// picture has to be fetched.
namespace qv::testing {

enum class PictureKind {
  kPhoto,       // smooth shapes, soft shading, fine texture and sharp edges
  kPortrait,    // large soft gradients with little detail
  kFlatLogo,    // a few solid shapes on a plain ground
  kText,        // dark glyph-like strokes on white
  kGradient,    // colour ramps
  kNoise,       // uniform random samples, every channel
  kFineDetail,  // thin lines and checkerboards near the sampling limit
  kInterlaced,  // a moving object seen by two fields at different times
  kColourBars,  // saturated bars
};

const char* PictureKindName(PictureKind kind);
std::vector<PictureKind> AllPictureKinds();

// A 24-bit picture of the kind; the same seed gives the same picture.
Bitmap MakePicture(PictureKind kind, int32_t width, int32_t height, uint32_t seed = 1);

// `entries` greys from black to white, evenly spaced, as 0x00RRGGBB colour table entries.
std::vector<uint32_t> GreyPalette(int entries);

// An 8-bit bitmap with the colour table `palette` and every pixel `index`.
Bitmap IndexedBitmap(int32_t width, int32_t height, const std::vector<uint32_t>& palette,
                     uint8_t index);

// A bitmap file of `width` x `height` (negative: top row first) whose pixels are the
// run-length `data`, at 8 bits per pixel (compression 1) or 4 (compression 2): the 14-byte
// file header, the 40-byte information header with the colour count of `palette`, the
// colour table and the data.
std::vector<uint8_t> RunLengthBitmapFile(int32_t width, int32_t height, uint16_t bits,
                                         const std::vector<uint32_t>& palette,
                                         const std::vector<uint8_t>& data);

// Writes `bitmap` (24 bits per pixel, or 8 for greyscale) as a baseline JPEG with libjpeg.
void WriteJpeg(const Bitmap& bitmap, const std::string& path, int quality = 90,
               bool greyscale = false);

// A PNG picture's layout as its IHDR, PLTE and tRNS chunks give it: the colour type as the
// PNG format numbers it (0 grey, 2 RGB, 3 palette, 4 grey and alpha, 6 RGB and alpha), the
// bit depth, Adam7 interlacing or none, and for a palette picture its 0x00RRGGBB entries and
// the alphas of its first entries (no tRNS chunk when empty).
struct PngLayout {
  int colour_type = 2;
  int bit_depth = 8;
  bool interlaced = false;
  std::vector<uint32_t> palette;
  std::vector<uint8_t> alphas;
};
// The samples of one pixel at the layout's bit depth, in the order of its channels: grey;
// red, green, blue; index; grey, alpha; red, green, blue, alpha.
using PngSamples = std::function<std::array<uint16_t, 4>(int32_t x, int32_t y)>;

// Writes a PNG file of `width` x `height` with libpng.
void WritePng(const std::string& path, int32_t width, int32_t height, const PngLayout& layout,
              const PngSamples& samples);

// The luma plane a still encoder starts from: Y' in studio range, rounded, with the
// weights of red and blue (BT.601 by default).
std::vector<uint8_t> StudioLuma(const Bitmap& bitmap, double kr = 0.299, double kb = 0.114);

double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b);

}  // namespace qv::testing
