// The still converter's parameter files (PAL.par, NTSC.par). A text that parses and passes the
// encoder's checks is then used for real: a small picture of the size the file names (at most
// 64 x 64, to keep each run short) is encoded with its settings; the matrix files it names
// get matrices made from their names.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "formatswitch/parameter_file.h"
#include "formatswitch/still_encoder.h"
#include "formatswitch/ycbcr_picture.h"
#include "platform/bitmap.h"

namespace {

using namespace qv;
using namespace qv::formatswitch;

constexpr int kLargestSide = 64;

std::optional<QuantiserMatrix> MatrixNamed(const std::string& name) {
  if (name == "-") return std::nullopt;
  QuantiserMatrix matrix;
  for (size_t i = 0; i < matrix.size(); ++i) {
    matrix[i] = static_cast<uint8_t>(std::max(1, name[i % name.size()] & 0xFF));
  }
  return matrix;
}

Bitmap Picture(int width, int height) {
  Bitmap bitmap = MakeBitmap24(width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.Row(y);
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<uint8_t>(x * 7 + y);
      row[3 * x + 1] = static_cast<uint8_t>((x ^ y) * 13);
      row[3 * x + 2] = static_cast<uint8_t>(y * 5 - x);
    }
  }
  return bitmap;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  Result<EncoderParameters> parsed = ParseParameterFile(text);
  if (!parsed) {
    if (parsed.error().text.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  StillSettings settings;
  EncoderParameters& p = settings.parameters;
  p = *parsed;
  double kr = 0, kb = 0;
  if (!CheckEncoderParameters(p) || !MatrixWeights(p.matrix_coefficients, kr, kb)) return 0;
  if (p.horizontal_size > kLargestSide || p.vertical_size > kLargestSide) return 0;

  settings.intra_matrix = MatrixNamed(p.intra_matrix_file);
  settings.non_intra_matrix = MatrixNamed(p.non_intra_matrix_file);
  YCbCrPicture picture = ConvertToYCbCr(Picture(p.horizontal_size, p.vertical_size),
                                        p.matrix_coefficients, p.progressive_frame != 0);
  const int64_t budget = 64 + static_cast<int64_t>(size % 4096);
  std::vector<uint8_t> still = EncodeStill(picture, settings, budget);
  // A stream begins with a sequence header and ends with the sequence end code.
  if (still.size() < 8 || still[0] != 0 || still[1] != 0 || still[2] != 1 || still[3] != 0xB3 ||
      still[still.size() - 1] != 0xB7) {
    __builtin_trap();
  }
  return 0;
}
