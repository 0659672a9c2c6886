// The logo still decoder (DecodeStill) on any bytes, and on real stills changed here and there,
// so the fuzzer reaches the slices and the decoder's checks of a whole picture at once:
//   byte 0 bit 0 clear   the rest of the input is the stream
//   byte 0 bit 0 set     a still the tool's converter made (bit 1: 720 x 480, else 720 x 576)
//                        with the rest of the input as edits of four bytes each: an offset
//                        (two bytes, little-endian, taken modulo the still's length), a kind
//                        and a value. Kind 0 overwrites the byte with the value, 1 inserts the
//                        value before it, 2 deletes (value % 64 + 1) bytes from it, 3 cuts the
//                        stream there and, for an odd value, ends it with a sequence end code.
// A still that decodes must give a whole 24-bit picture of its size; a refusal must name a
// field and say why, at an offset inside the stream or none.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "formatswitch/converter.h"
#include "fuzz/fuzz_support.h"
#include "platform/bitmap.h"
#include "platform/file.h"
#include "workfiles/parameter_files.h"
#include "workfiles/still_decoder.h"

namespace {

using namespace qv;

// A picture with smooth shading, sharp edges and saturated colour, so the still has every kind
// of macroblock.
Bitmap Picture(int32_t height) {
  Bitmap picture = MakeBitmap24(720, height);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = picture.Row(y);
    for (int32_t x = 0; x < 720; ++x) {
      const int dx = x - 360, dy = y - height / 2;
      const bool disc = dx * dx + dy * dy < 150 * 150;
      const bool stripe = (x / 24 + y / 24) % 2 == 0 && y > height * 3 / 4;
      row[3 * x] = static_cast<uint8_t>(disc ? 40 : x * 255 / 719);
      row[3 * x + 1] = static_cast<uint8_t>(stripe ? 250 : y * 255 / (height - 1));
      row[3 * x + 2] = static_cast<uint8_t>(disc ? 230 : (x ^ y) & 0xFF);
    }
  }
  return picture;
}

std::vector<uint8_t> ConvertedStill(int32_t height) {
  const std::string& directory = fuzz::ScratchDirectory();
  WriteWholeFile(
      directory + "PAL.par",
      std::span(reinterpret_cast<const uint8_t*>(kPalParContent.data()), kPalParContent.size()));
  WriteWholeFile(
      directory + "NTSC.par",
      std::span(reinterpret_cast<const uint8_t*>(kNtscParContent.data()), kNtscParContent.size()));
  SaveBitmap(Picture(height), directory + "logo.bmp");
  std::ostringstream messages;
  if (!formatswitch::ConvertPicture("logo.bmp", directory, messages)) std::abort();
  return ReadWholeFile(directory + "logo.m2v");
}

const std::vector<uint8_t>& Still(bool ntsc) {
  static const std::array<std::vector<uint8_t>, 2> stills = {ConvertedStill(576),
                                                             ConvertedStill(480)};
  return stills[ntsc ? 1 : 0];
}

std::vector<uint8_t> Edited(std::vector<uint8_t> still, std::span<const uint8_t> edits) {
  for (size_t i = 0; i + 4 <= edits.size() && !still.empty(); i += 4) {
    const size_t offset = (edits[i] | (edits[i + 1] << 8)) % still.size();
    const uint8_t value = edits[i + 3];
    const auto at = still.begin() + static_cast<std::ptrdiff_t>(offset);
    switch (edits[i + 2] & 3) {
      case 0:
        *at = value;
        break;
      case 1:
        still.insert(at, value);
        break;
      case 2:
        still.erase(at, at + static_cast<std::ptrdiff_t>(
                                 std::min<size_t>(value % 64 + 1, still.size() - offset)));
        break;
      case 3:
        still.erase(at, still.end());
        if (value & 1) still.insert(still.end(), {0x00, 0x00, 0x01, 0xB7});
        break;
    }
  }
  return still;
}

// An accepted stream gives a whole 24-bit picture of a logo's size; a refused one names a field
// and says why, at an offset inside the stream or none.
void Check(std::span<const uint8_t> stream) {
  Result<Bitmap> picture = DecodeStill(stream);
  if (picture) {
    if (picture->width != 720 || (picture->height != 576 && picture->height != 480) ||
        picture->bits_per_pixel != 24 ||
        picture->pixels.size() != picture->RowBytes() * static_cast<size_t>(picture->height)) {
      __builtin_trap();
    }
    return;
  }
  const Error& error = picture.error();
  if (error.field.empty() || error.text.empty() || error.offset < -1 ||
      error.offset > static_cast<int64_t>(stream.size())) {
    __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::span<const uint8_t> rest(data + 1, size - 1);
  if (!(data[0] & 1)) {
    Check(rest);  // the fuzzer's own buffer ends where the input does
    return 0;
  }
  const std::vector<uint8_t> edited = Edited(Still(data[0] & 2), rest);
  // In a buffer of exactly its length, so that a read past its end is seen.
  const std::vector<uint8_t> exact(edited.begin(), edited.end());
  Check(exact);
  return 0;
}
