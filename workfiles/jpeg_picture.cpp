#include "workfiles/jpeg_picture.h"

#include <csetjmp>
#include <cstdio>
#include <utility>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "platform/file.h"
#include "platform/io_error.h"
#include "workfiles/logo_picture.h"

namespace qv {

namespace {

struct JumpingErrorManager {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char text[JMSG_LENGTH_MAX];
};

// libjpeg must not end the process: errors jump back to the decoding function.
extern "C" void JumpOnError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JumpingErrorManager*>(info->err);
  (*info->err->format_message)(info, errors->text);
  std::longjmp(errors->jump, 1);
}

// Warnings (a premature end of the data, corrupt entropy data) would otherwise let a damaged
// picture through with grey areas; they are treated as errors. Trace messages are dropped.
extern "C" void JumpOnWarning(j_common_ptr info, int level) {
  if (level < 0) JumpOnError(info);
}

// Holds no object with a destructor between setjmp and the calls that may jump back, so the
// jump skips nothing. Returns false with `errors.text` filled on failure.
bool Decode(jpeg_decompress_struct& info, JumpingErrorManager& errors,
            std::span<const uint8_t> data, Bitmap& bitmap) {
  if (setjmp(errors.jump)) return false;
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  bool grey = info.num_components == 1;
  if (!grey && info.jpeg_color_space != JCS_YCbCr && info.jpeg_color_space != JCS_RGB) {
    std::snprintf(errors.text, sizeof errors.text,
                  "JPEG colour space %d is not supported (only colour and greyscale pictures)",
                  static_cast<int>(info.jpeg_color_space));
    return false;
  }
  info.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  info.scale_num = 1;
  info.scale_denom = 1;
  jpeg_calc_output_dimensions(&info);
  uint64_t pixels = static_cast<uint64_t>(info.output_width) * info.output_height;
  if (info.output_width > 32768 || info.output_height > 32768 || pixels > kLargestPicturePixels) {
    std::snprintf(errors.text, sizeof errors.text, "JPEG picture of %u x %u is too large",
                  info.output_width, info.output_height);
    return false;
  }
  bitmap.width = static_cast<int32_t>(info.output_width);
  bitmap.height = static_cast<int32_t>(info.output_height);
  bitmap.bits_per_pixel = grey ? 8 : 24;
  bitmap.pixels.assign(bitmap.RowBytes() * static_cast<size_t>(bitmap.height), 0);
  if (grey) {
    bitmap.palette.resize(256);
    for (uint32_t i = 0; i < 256; ++i)
      bitmap.palette[i] = i * 0x010101;
  }
  jpeg_start_decompress(&info);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = bitmap.Row(static_cast<int32_t>(info.output_scanline));
    jpeg_read_scanlines(&info, &row, 1);
    if (!grey) {
      // A bitmap row holds blue, green, red.
      for (int32_t x = 0; x < bitmap.width; ++x)
        std::swap(row[3 * x], row[3 * x + 2]);
    }
  }
  jpeg_finish_decompress(&info);
  return true;
}

bool ReadDimensions(jpeg_decompress_struct& info, JumpingErrorManager& errors,
                    std::span<const uint8_t> data) {
  if (setjmp(errors.jump)) return false;
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data.data(), static_cast<unsigned long>(data.size()));
  jpeg_read_header(&info, TRUE);
  return true;
}

}  // namespace

std::optional<std::pair<uint32_t, uint32_t>> JpegDimensions(std::span<const uint8_t> data) {
  jpeg_decompress_struct info{};
  JumpingErrorManager errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JumpOnError;
  errors.manager.emit_message = JumpOnWarning;
  std::optional<std::pair<uint32_t, uint32_t>> dimensions;
  if (ReadDimensions(info, errors, data)) dimensions.emplace(info.image_width, info.image_height);
  jpeg_destroy_decompress(&info);
  return dimensions;
}

Bitmap DecodeJpegFile(const std::string& path) {
  return DecodeJpeg(ReadWholeFile(path));
}

Bitmap DecodeJpeg(std::span<const uint8_t> data) {
  Bitmap bitmap;
  jpeg_decompress_struct info{};
  JumpingErrorManager errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JumpOnError;
  errors.manager.emit_message = JumpOnWarning;
  bool decoded = Decode(info, errors, data, bitmap);
  jpeg_destroy_decompress(&info);
  if (!decoded) throw IoError(errors.text);
  return bitmap;
}

}  // namespace qv
