#include "tests/support/test_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <stdexcept>
// clang-format off
#include <jpeglib.h>
#include <png.h>
// clang-format on

#include "platform/little_endian.h"

namespace qv::testing {

namespace {

uint8_t Clamp(double value) {
  return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

void Put(Bitmap& bitmap, int x, int y, double r, double g, double b) {
  uint8_t* pixel = bitmap.Row(y) + 3 * x;
  pixel[0] = Clamp(b);
  pixel[1] = Clamp(g);
  pixel[2] = Clamp(r);
}

}  // namespace

const char* PictureKindName(PictureKind kind) {
  switch (kind) {
    case PictureKind::kPhoto:
      return "photo";
    case PictureKind::kPortrait:
      return "portrait";
    case PictureKind::kFlatLogo:
      return "flat-logo";
    case PictureKind::kText:
      return "text";
    case PictureKind::kGradient:
      return "gradient";
    case PictureKind::kNoise:
      return "noise";
    case PictureKind::kFineDetail:
      return "fine-detail";
    case PictureKind::kInterlaced:
      return "interlaced";
    case PictureKind::kColourBars:
      return "colour-bars";
  }
  return "?";
}

std::vector<PictureKind> AllPictureKinds() {
  return {PictureKind::kPhoto,      PictureKind::kPortrait,   PictureKind::kFlatLogo,
          PictureKind::kText,       PictureKind::kGradient,   PictureKind::kNoise,
          PictureKind::kFineDetail, PictureKind::kInterlaced, PictureKind::kColourBars};
}

Bitmap MakePicture(PictureKind kind, int32_t width, int32_t height, uint32_t seed) {
  Bitmap bitmap = MakeBitmap24(width, height);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double w = width, h = height;
  switch (kind) {
    case PictureKind::kPhoto: {
      struct Blob {
        double x, y, radius, r, g, b;
      };
      std::vector<Blob> blobs;
      for (int i = 0; i < 14; ++i) {
        blobs.push_back({unit(random) * w, unit(random) * h, 30 + unit(random) * 140,
                         unit(random) * 255, unit(random) * 255, unit(random) * 255});
      }
      std::normal_distribution<double> grain(0.0, 6.0);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          double r = 90 + 60 * std::sin(x / 57.0) * std::cos(y / 83.0);
          double g = 110 + 50 * std::cos((x + y) / 71.0);
          double b = 130 + 40 * std::sin(y / 29.0);
          for (const Blob& blob : blobs) {
            double d = std::hypot(x - blob.x, y - blob.y);
            if (d < blob.radius) {  // hard-edged disc with soft shading inside
              double shade = 0.7 + 0.3 * (1 - d / blob.radius);
              r = blob.r * shade;
              g = blob.g * shade;
              b = blob.b * shade;
            }
          }
          double texture = 12 * std::sin(x * 0.9 + y * 0.4) * std::sin(y * 0.7) + grain(random);
          Put(bitmap, x, y, r + texture, g + texture, b + texture);
        }
      }
      break;
    }
    case PictureKind::kPortrait:
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          double face = std::exp(
              -(std::pow((x - w / 2) / (w / 5), 2) + std::pow((y - h / 2.2) / (h / 3.5), 2)));
          Put(bitmap, x, y, 60 + 170 * face, 50 + 120 * face + 30 * y / h, 70 + 90 * face);
        }
      }
      break;
    case PictureKind::kFlatLogo: {
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
          Put(bitmap, x, y, 0, 40, 120);
      }
      for (int i = 0; i < 6; ++i) {
        int x0 = static_cast<int>(unit(random) * w * 0.8),
            y0 = static_cast<int>(unit(random) * h * 0.8);
        int x1 = std::min(width, x0 + 40 + static_cast<int>(unit(random) * 200));
        int y1 = std::min(height, y0 + 40 + static_cast<int>(unit(random) * 150));
        double r = unit(random) > 0.5 ? 255 : 230, g = unit(random) * 255, b = unit(random) * 80;
        for (int y = y0; y < y1; ++y) {
          for (int x = x0; x < x1; ++x)
            Put(bitmap, x, y, r, g, b);
        }
      }
      break;
    }
    case PictureKind::kText: {
      // Rows of "letters": strokes of 2 to 3 pixels in 12 x 20 cells.
      for (int line = 20; line + 24 < height; line += 30) {
        for (int cell = 16; cell + 12 < width - 16; cell += 13) {
          uint32_t shape = random();
          if ((shape & 7) == 0) continue;  // a space
          for (int stroke = 0; stroke < 4; ++stroke) {
            bool vertical = (shape >> (3 + stroke)) & 1;
            int sx = cell + static_cast<int>((shape >> (8 + 2 * stroke)) % 9);
            int sy = line + static_cast<int>((shape >> (16 + 2 * stroke)) % 17);
            int length = vertical ? 20 - (sy - line) : 12 - (sx - cell);
            for (int t = 0; t < length; ++t) {
              for (int thick = 0; thick < 2; ++thick) {
                int x = vertical ? sx + thick : sx + t, y = vertical ? sy + t : sy + thick;
                if (x < width && y < height) Put(bitmap, x, y, 10, 10, 20);
              }
            }
          }
        }
      }
      break;
    }
    case PictureKind::kGradient:
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          Put(bitmap, x, y, 255 * x / w, 255 * y / h, 255 * (1 - x / w) * (1 - y / h) + 40);
        }
      }
      break;
    case PictureKind::kNoise: {
      std::uniform_int_distribution<int> byte(0, 255);
      for (uint8_t& value : bitmap.pixels)
        value = static_cast<uint8_t>(byte(random));
      break;
    }
    case PictureKind::kFineDetail:
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          double v;
          if (x < width / 3)
            v = ((x / 2 + y / 2) % 2) ? 230 : 25;  // 2 x 2 checkerboard
          else if (x < 2 * width / 3)
            v = (x % 3 == 0) ? 20 : 220;  // thin vertical lines
          else
            v = 128 + 100 * std::sin((x * x + y * y) / 900.0);  // zone plate
          Put(bitmap, x, y, v, v, v);
        }
      }
      break;
    case PictureKind::kInterlaced:
      for (int y = 0; y < height; ++y) {
        int shift = (y % 2) ? 24 : 0;  // the bottom field saw the bar later
        for (int x = 0; x < width; ++x) {
          bool bar = ((x - shift) / 48) % 3 == 0 && x >= shift;
          double base = 80 + 60 * std::sin(y / 40.0);
          Put(bitmap, x, y, bar ? 240 : base, bar ? 220 : base + 20, bar ? 40 : base + 40);
        }
      }
      break;
    case PictureKind::kColourBars: {
      const double bars[8][3] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                 {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
          const double* c = bars[std::min(7, x * 8 / width)];
          Put(bitmap, x, y, c[0], c[1], c[2]);
        }
      }
      break;
    }
  }
  return bitmap;
}

std::vector<uint32_t> GreyPalette(int entries) {
  std::vector<uint32_t> palette;
  for (int i = 0; i < entries; ++i)
    palette.push_back(static_cast<uint32_t>(i * 255 / (entries - 1)) * 0x010101);
  return palette;
}

Bitmap IndexedBitmap(int32_t width, int32_t height, const std::vector<uint32_t>& palette,
                     uint8_t index) {
  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.bits_per_pixel = 8;
  bitmap.palette = palette;
  bitmap.pixels.assign(bitmap.RowBytes() * static_cast<size_t>(height), index);
  return bitmap;
}

std::vector<uint8_t> RunLengthBitmapFile(int32_t width, int32_t height, uint16_t bits,
                                         const std::vector<uint32_t>& palette,
                                         const std::vector<uint8_t>& data) {
  const size_t table_at = 14 + 40, pixel_offset = table_at + 4 * palette.size();
  std::vector<uint8_t> file(pixel_offset, 0);
  file.insert(file.end(), data.begin(), data.end());
  file[0] = 'B';
  file[1] = 'M';
  WriteLe32(&file[2], static_cast<uint32_t>(file.size()));
  WriteLe32(&file[10], static_cast<uint32_t>(pixel_offset));
  WriteLe32(&file[14], 40);  // information header size
  WriteLe32(&file[18], static_cast<uint32_t>(width));
  WriteLe32(&file[22], static_cast<uint32_t>(height));
  WriteLe16(&file[26], 1);  // planes
  WriteLe16(&file[28], bits);
  WriteLe32(&file[30], bits == 8 ? 1 : 2);  // run-length compression of 8 or 4 bits
  WriteLe32(&file[46], static_cast<uint32_t>(palette.size()));
  for (size_t i = 0; i < palette.size(); ++i)
    WriteLe32(&file[table_at + 4 * i], palette[i]);
  return file;
}

void WriteJpeg(const Bitmap& bitmap, const std::string& path, int quality, bool greyscale) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + path);
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = static_cast<JDIMENSION>(bitmap.width);
  info.image_height = static_cast<JDIMENSION>(bitmap.height);
  info.input_components = greyscale ? 1 : 3;
  info.in_color_space = greyscale ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  jpeg_start_compress(&info, TRUE);
  std::vector<uint8_t> line(static_cast<size_t>(bitmap.width) * 3);
  while (info.next_scanline < info.image_height) {
    int y = static_cast<int>(info.next_scanline);
    for (int x = 0; x < bitmap.width; ++x) {
      uint32_t colour = PixelColour(bitmap, x, y);
      uint8_t r = colour >> 16, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
      if (greyscale) {
        line[static_cast<size_t>(x)] = static_cast<uint8_t>((r * 299 + g * 587 + b * 114) / 1000);
      } else {
        line[3 * static_cast<size_t>(x)] = r;
        line[3 * static_cast<size_t>(x) + 1] = g;
        line[3 * static_cast<size_t>(x) + 2] = b;
      }
    }
    JSAMPROW row = line.data();
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::fclose(file);
}

void WritePng(const std::string& path, int32_t width, int32_t height, const PngLayout& layout,
              const PngSamples& samples) {
  const int channels = layout.colour_type == 2   ? 3
                       : layout.colour_type == 4 ? 2
                       : layout.colour_type == 6 ? 4
                                                 : 1;
  const int depth = layout.bit_depth;
  const size_t row_bytes = (static_cast<size_t>(width) * channels * depth + 7) / 8;
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(height),
                                         std::vector<uint8_t>(row_bytes, 0));
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = rows[static_cast<size_t>(y)].data();
    size_t bit = 0;  // samples packed from the most significant bit, 16-bit ones big-endian
    for (int32_t x = 0; x < width; ++x) {
      const std::array<uint16_t, 4> pixel = samples(x, y);
      for (int c = 0; c < channels; ++c, bit += static_cast<size_t>(depth)) {
        const uint16_t value = pixel[static_cast<size_t>(c)];
        if (depth == 16) {
          row[bit / 8] = static_cast<uint8_t>(value >> 8);
          row[bit / 8 + 1] = static_cast<uint8_t>(value);
        } else {
          row[bit / 8] |= static_cast<uint8_t>(value << (8 - depth - bit % 8));
        }
      }
    }
  }

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw std::runtime_error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    throw std::runtime_error("libpng could not write " + path);
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth,
               layout.colour_type, layout.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette;
  for (uint32_t entry : layout.palette) {
    palette.push_back({static_cast<png_byte>(entry >> 16), static_cast<png_byte>(entry >> 8),
                       static_cast<png_byte>(entry)});
  }
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  if (!layout.alphas.empty()) {
    png_set_tRNS(png, info, layout.alphas.data(), static_cast<int>(layout.alphas.size()), nullptr);
  }
  png_write_info(png, info);
  std::vector<png_bytep> pointers;
  for (std::vector<uint8_t>& row : rows)
    pointers.push_back(row.data());
  png_write_image(png, pointers.data());  // all passes of an interlaced picture
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(file);
}

std::vector<uint8_t> StudioLuma(const Bitmap& bitmap, double kr, double kb) {
  std::vector<uint8_t> luma(static_cast<size_t>(bitmap.width) * bitmap.height);
  for (int y = 0; y < bitmap.height; ++y) {
    for (int x = 0; x < bitmap.width; ++x) {
      uint32_t c = PixelColour(bitmap, x, y);
      double e = kr * (c >> 16) + (1 - kr - kb) * ((c >> 8) & 0xFF) + kb * (c & 0xFF);
      luma[static_cast<size_t>(y) * bitmap.width + x] = Clamp(16 + e * 219 / 255);
    }
  }
  return luma;
}

double LumaPsnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return 0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 99;
  return 10 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

}  // namespace qv::testing
