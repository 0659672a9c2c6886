#include "platform/bitmap.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "platform/hex.h"
#include "platform/io_error.h"
#include "platform/little_endian.h"

namespace qv {

namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kCoreHeaderSize = 12;
constexpr size_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiBitfields = 3;
// No picture this tool handles comes near this; larger claims are treated as lies.
constexpr int64_t kMaxDimension = 32768;
// Run-length pixels describe a large picture in a few bytes; no logo picture needs more.
constexpr int64_t kMaxRunLengthPixels = int64_t{64} << 20;

[[noreturn]] void Refuse(const std::string& what) {
  throw IoError("Bitmap file: " + what);
}

void CheckSize(int64_t width, int64_t height) {
  if (width <= 0 || height <= 0 || width > kMaxDimension || height > kMaxDimension) {
    Refuse("size " + std::to_string(width) + " x " + std::to_string(height) + " is out of range");
  }
}

// Bounds-checked little-endian reads from the whole file.
class Reader {
 public:
  explicit Reader(std::span<const uint8_t> file) : file_(file) {}
  uint32_t U16(size_t offset, const char* field) const {
    Need(offset, 2, field);
    return ReadLe16(file_.data() + offset);
  }
  uint32_t U32(size_t offset, const char* field) const {
    Need(offset, 4, field);
    return ReadLe32(file_.data() + offset);
  }
  void Need(uint64_t offset, uint64_t length, const char* what) const {
    if (offset > file_.size() || length > file_.size() - offset) {
      Refuse(std::string(what) + " at offset " + Hex(offset) + " (" + std::to_string(length) +
             " bytes) is past the end of the file (" + std::to_string(file_.size()) + " bytes)");
    }
  }
  const uint8_t* At(size_t offset) const { return file_.data() + offset; }

 private:
  std::span<const uint8_t> file_;
};

std::array<uint32_t, 3> DefaultMasks(uint16_t bits_per_pixel) {
  if (bits_per_pixel == 16) return {0x7C00, 0x03E0, 0x001F};
  return {0x00FF0000, 0x0000FF00, 0x000000FF};
}

// Scales the field of `word` under `mask` to 0..255.
uint32_t MaskedChannel(uint32_t word, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0)
    ++shift;
  uint32_t max = mask >> shift;
  uint32_t value = (word & mask) >> shift;
  return static_cast<uint32_t>((static_cast<uint64_t>(value) * 255 + max / 2) / max);
}

bool MasksAreValid(const std::array<uint32_t, 3>& masks, uint16_t bits_per_pixel) {
  uint64_t limit = bits_per_pixel == 16 ? 0xFFFF : 0xFFFFFFFF;
  for (uint32_t mask : masks) {
    if (mask == 0 || mask > limit) return false;
    uint32_t shifted = mask;
    while ((shifted & 1) == 0)
      shifted >>= 1;
    if ((shifted & (shifted + 1)) != 0) return false;  // the set bits must be contiguous
  }
  return true;
}

uint32_t WhiteIndex(const std::vector<uint32_t>& palette) {
  uint32_t best = 0;
  int best_distance = 1 << 30;
  for (size_t i = 0; i < palette.size(); ++i) {
    int r = static_cast<int>((palette[i] >> 16) & 0xFF);
    int g = static_cast<int>((palette[i] >> 8) & 0xFF);
    int b = static_cast<int>(palette[i] & 0xFF);
    int distance = (255 - r) * (255 - r) + (255 - g) * (255 - g) + (255 - b) * (255 - b);
    if (distance < best_distance) {
      best_distance = distance;
      best = static_cast<uint32_t>(i);
    }
  }
  return best;
}

void SetPixelValue(Bitmap& bitmap, int32_t x, int32_t y, uint32_t value) {
  uint8_t* row = bitmap.Row(y);
  size_t bit = static_cast<size_t>(x) * bitmap.bits_per_pixel;
  switch (bitmap.bits_per_pixel) {
    case 1:
    case 4: {
      int shift = 8 - bitmap.bits_per_pixel - static_cast<int>(bit % 8);
      uint8_t mask = static_cast<uint8_t>(((1u << bitmap.bits_per_pixel) - 1) << shift);
      row[bit / 8] = static_cast<uint8_t>((row[bit / 8] & ~mask) | ((value << shift) & mask));
      break;
    }
    case 8:
      row[bit / 8] = static_cast<uint8_t>(value);
      break;
    case 16:
      WriteLe16(row + bit / 8, value);
      break;
    case 24:
      WriteLe24(row + bit / 8, value);
      break;
    default:
      WriteLe32(row + bit / 8, value);
      break;
  }
}

uint32_t PixelValue(const Bitmap& bitmap, int32_t x, int32_t y) {
  const uint8_t* row = bitmap.Row(y);
  size_t bit = static_cast<size_t>(x) * bitmap.bits_per_pixel;
  switch (bitmap.bits_per_pixel) {
    case 1:
    case 4: {
      int shift = 8 - bitmap.bits_per_pixel - static_cast<int>(bit % 8);
      return (row[bit / 8] >> shift) & ((1u << bitmap.bits_per_pixel) - 1);
    }
    case 8:
      return row[bit / 8];
    case 16:
      return ReadLe16(row + bit / 8);
    case 24:
      return ReadLe24(row + bit / 8);
    default:
      return ReadLe32(row + bit / 8);
  }
}

uint32_t WhiteValue(const Bitmap& bitmap) {
  switch (bitmap.bits_per_pixel) {
    case 1:
    case 4:
    case 8:
      return WhiteIndex(bitmap.palette);
    case 24:
      return 0xFFFFFF;
    default:
      return bitmap.masks[0] | bitmap.masks[1] | bitmap.masks[2];
  }
}

}  // namespace

Bitmap MakeBitmap24(int32_t width, int32_t height) {
  CheckSize(width, height);
  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.bits_per_pixel = 24;
  bitmap.masks = DefaultMasks(24);
  bitmap.pixels.assign(bitmap.RowBytes() * static_cast<size_t>(height), 0xFF);
  return bitmap;
}

namespace {

// The fields of the information header the loader uses, from either layout: the 12-byte core
// header of the first bitmaps (16-bit sizes, 3-byte colour table entries, no compression) or
// the 40-byte header and the longer ones that extend it.
struct InfoHeader {
  uint32_t size = 0;
  int64_t width = 0;
  int64_t height = 0;  // negative: rows stored top row first
  uint32_t planes = 0;
  uint32_t bits = 0;
  uint32_t compression = kBiRgb;
  uint32_t colours_used = 0;
  size_t colour_entry_size = 4;
};

InfoHeader ReadInfoHeader(const Reader& in) {
  InfoHeader header;
  header.size = in.U32(14, "the information header size");
  if (header.size == kCoreHeaderSize) {
    header.width = in.U16(18, "the width");
    header.height = in.U16(20, "the height");
    header.planes = in.U16(22, "the plane count");
    header.bits = in.U16(24, "the bit count");
    header.colour_entry_size = 3;
    return header;
  }
  if (header.size != 40 && header.size != 52 && header.size != 56 && header.size != 108 &&
      header.size != 124) {
    Refuse("information header size " + std::to_string(header.size) + " is not supported");
  }
  in.Need(kFileHeaderSize, header.size, "the information header");
  header.width = static_cast<int32_t>(in.U32(18, "the width"));
  header.height = static_cast<int32_t>(in.U32(22, "the height"));
  header.planes = in.U16(26, "the plane count");
  header.bits = in.U16(28, "the bit count");
  header.compression = in.U32(30, "the compression");
  header.colours_used = in.U32(46, "the colour count");
  return header;
}

// Unpacks run-length pixels (8 or 4 bits each) from `offset` into `bitmap`, whose pixels are
// all index 0 to begin with, as pixels the data jumps over stay. The data walks the rows
// bottom row first: runs of one index (of two taking turns, at 4 bits), literal pixels padded
// to an even number of bytes, ends of row, jumps ahead, and the end of the picture, which it
// must reach.
void DecodeRunLengths(const Reader& in, size_t offset, Bitmap& bitmap) {
  const bool four_bits = bitmap.bits_per_pixel == 4;
  auto index = [four_bits](uint8_t byte, int i) -> uint32_t {
    return four_bits ? (i % 2 ? byte & 0x0F : byte >> 4) : byte;
  };
  int64_t x = 0;
  int64_t y = 0;  // from the bottom row
  size_t at = offset;
  auto put = [&](uint32_t value) {
    if (x >= bitmap.width || y >= bitmap.height) {
      Refuse("the run-length pixels at offset " + Hex(at) + " reach past the picture's " +
             (y >= bitmap.height ? "top row" : "right edge"));
    }
    SetPixelValue(bitmap, static_cast<int32_t>(x), static_cast<int32_t>(bitmap.height - 1 - y),
                  value);
    ++x;
  };
  for (;;) {
    in.Need(at, 2, "the run-length pixels");
    const uint8_t count = *in.At(at);
    const uint8_t value = *in.At(at + 1);
    at += 2;
    if (count > 0) {
      for (int i = 0; i < count; ++i)
        put(index(value, i));
    } else if (value == 0) {  // end of row
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      return;
    } else if (value == 2) {  // jump right and up
      in.Need(at, 2, "a jump of the run-length pixels");
      x += *in.At(at);
      y += *in.At(at + 1);
      at += 2;
    } else {  // `value` literal pixels
      const size_t bytes = four_bits ? (value + 1u) / 2 : value;
      in.Need(at, bytes, "literal run-length pixels");
      const size_t first = at;
      for (int i = 0; i < value; ++i)
        put(index(*in.At(first + static_cast<size_t>(four_bits ? i / 2 : i)), i));
      at = first + bytes + bytes % 2;
    }
  }
}

// The file header: the "BM" signature, and where the pixel data begins.
uint32_t ReadFileHeader(const Reader& in) {
  in.Need(0, kFileHeaderSize, "the file header");
  if (*in.At(0) != 'B' || *in.At(1) != 'M') Refuse("the file does not begin with \"BM\"");
  return in.U32(10, "the pixel data offset");
}

// The picture the information header describes, without its pixels: one plane, a bitmap
// depth, and a size in range once a negative height (rows stored top row first) is undone.
Bitmap PictureWithoutPixels(const InfoHeader& header) {
  if (header.planes != 1) Refuse("plane count " + std::to_string(header.planes) + " is not 1");
  const uint32_t bits = header.bits;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    Refuse(std::to_string(bits) + " bits per pixel is not a bitmap depth");
  }
  const int64_t height = header.height < 0 ? -header.height : header.height;
  CheckSize(header.width, height);
  Bitmap bitmap;
  bitmap.width = static_cast<int32_t>(header.width);
  bitmap.height = static_cast<int32_t>(height);
  bitmap.bits_per_pixel = static_cast<uint16_t>(bits);
  bitmap.masks = DefaultMasks(bitmap.bits_per_pixel);
  return bitmap;
}

// Bit-field pixels: the three colour masks, which follow a 40-byte header and lie inside the
// longer ones. Returns how many bytes they add after the header.
size_t ReadColourMasks(const Reader& in, const InfoHeader& header, Bitmap& bitmap) {
  if (header.bits != 16 && header.bits != 32) {
    Refuse("bit-field pixels need 16 or 32 bits per pixel");
  }
  const size_t masks_at = kFileHeaderSize + kInfoHeaderSize;
  size_t added = 0;
  if (header.size == kInfoHeaderSize) {
    in.Need(masks_at, 12, "the colour masks");
    added = 12;
  }
  for (int i = 0; i < 3; ++i) {
    bitmap.masks[i] = in.U32(masks_at + 4 * static_cast<size_t>(i), "a colour mask");
  }
  if (!MasksAreValid(bitmap.masks, bitmap.bits_per_pixel)) Refuse("the colour masks are invalid");
  bitmap.explicit_masks = true;
  return added;
}

// Run-length pixels: 8 bits each for the one compression, 4 for the other, rows bottom row
// first, and a picture no larger than a logo picture needs.
void CheckRunLengthPicture(const InfoHeader& header, const Bitmap& bitmap) {
  const uint32_t run_bits = header.compression == kBiRle8 ? 8 : 4;
  if (header.bits != run_bits) {
    Refuse("run-length compression " + std::to_string(header.compression) + " needs " +
           std::to_string(run_bits) + " bits per pixel");
  }
  if (header.height < 0) Refuse("run-length pixels cannot be stored top row first");
  const int64_t width = bitmap.width, height = bitmap.height;
  if (width * height > kMaxRunLengthPixels) {
    Refuse("size " + std::to_string(width) + " x " + std::to_string(height) +
           " is too large for run-length pixels");
  }
}

enum class PixelStorage { kUncompressed, kRunLength };

struct PixelLayout {
  PixelStorage storage;
  size_t colour_table_at;  // after the header and any masks stored after it
};

// How the pixels are stored, by the compression field: uncompressed, as bit fields (whose
// masks are read into `bitmap`) or run-length; any other is refused.
PixelLayout ReadCompression(const Reader& in, const InfoHeader& header, Bitmap& bitmap) {
  const size_t after_header = kFileHeaderSize + header.size;
  switch (header.compression) {
    case kBiRgb:
      return {PixelStorage::kUncompressed, after_header};
    case kBiBitfields:
      return {PixelStorage::kUncompressed, after_header + ReadColourMasks(in, header, bitmap)};
    case kBiRle8:
    case kBiRle4:
      CheckRunLengthPicture(header, bitmap);
      return {PixelStorage::kRunLength, after_header};
    default:
      Refuse("compression " + std::to_string(header.compression) + " is not supported");
  }
}

// The colour table of an indexed picture, at `table_at`: as many entries as the colour count
// says (all the depth can index when it says 0), each 0x00RRGGBB. The pixel data must begin
// after the table, or after the headers when there is none.
void ReadColourTable(const Reader& in, const InfoHeader& header, size_t table_at,
                     uint32_t pixel_offset, Bitmap& bitmap) {
  const uint32_t bits = header.bits;
  if (bits > 8) {
    if (pixel_offset < table_at) {
      Refuse("the pixel data offset " + Hex(pixel_offset) + " overlaps the headers");
    }
    return;
  }
  uint32_t entries = header.colours_used == 0 ? (1u << bits) : header.colours_used;
  if (entries > (1u << bits)) {
    Refuse("colour count " + std::to_string(header.colours_used) + " exceeds what " +
           std::to_string(bits) + " bits can index");
  }
  const uint64_t table_size = uint64_t{header.colour_entry_size} * entries;
  in.Need(table_at, table_size, "the colour table");
  if (pixel_offset < table_at + table_size) {
    Refuse("the pixel data offset " + Hex(pixel_offset) + " overlaps the colour table");
  }
  for (uint32_t i = 0; i < entries; ++i) {
    const uint8_t* entry = in.At(table_at + header.colour_entry_size * i);
    bitmap.palette.push_back(ReadLe24(entry));  // blue, green, red (and a spare byte)
  }
}

// Moves the rows of `data_size` bytes at `pixel_offset` of the file's own bytes to their
// start, top row first, and makes those bytes the pixels.
void MoveRowsIntoPlace(std::vector<uint8_t>& bytes, uint32_t pixel_offset, uint64_t data_size,
                       bool top_down, Bitmap& bitmap) {
  const size_t row_bytes = bitmap.RowBytes();
  const int64_t height = bitmap.height;
  std::memmove(bytes.data(), bytes.data() + pixel_offset, static_cast<size_t>(data_size));
  bytes.resize(static_cast<size_t>(data_size));
  if (!top_down) {
    std::vector<uint8_t> row(row_bytes);
    for (int64_t y = 0; y < height / 2; ++y) {
      uint8_t* upper = bytes.data() + static_cast<size_t>(y) * row_bytes;
      uint8_t* lower = bytes.data() + static_cast<size_t>(height - 1 - y) * row_bytes;
      std::memcpy(row.data(), upper, row_bytes);
      std::memcpy(upper, lower, row_bytes);
      std::memcpy(lower, row.data(), row_bytes);
    }
  }
  bitmap.pixels = std::move(bytes);
}

// Copies the rows of `data_size` bytes at `pixel_offset` into the pixels, top row first.
void CopyRows(const Reader& in, uint32_t pixel_offset, uint64_t data_size, bool top_down,
              Bitmap& bitmap) {
  const size_t row_bytes = bitmap.RowBytes();
  const int64_t height = bitmap.height;
  bitmap.pixels.resize(static_cast<size_t>(data_size));
  for (int64_t y = 0; y < height; ++y) {
    int64_t stored = top_down ? y : height - 1 - y;
    std::memcpy(bitmap.Row(static_cast<int32_t>(y)),
                in.At(pixel_offset + static_cast<size_t>(stored) * row_bytes), row_bytes);
  }
}

// Uncompressed rows from `pixel_offset`, each RowBytes() long, put top row first. With
// `owned` (the file's bytes in a vector) the pixels are moved into place inside that vector
// instead of being copied.
void ReadRows(const Reader& in, uint32_t pixel_offset, bool top_down, std::vector<uint8_t>* owned,
              Bitmap& bitmap) {
  const uint64_t data_size =
      static_cast<uint64_t>(bitmap.RowBytes()) * static_cast<uint64_t>(bitmap.height);
  in.Need(pixel_offset, data_size, "the pixel data");
  if (owned) {
    MoveRowsIntoPlace(*owned, pixel_offset, data_size, top_down, bitmap);
  } else {
    CopyRows(in, pixel_offset, data_size, top_down, bitmap);
  }
}

// An index past the palette would make every later colour lookup read outside it.
void CheckColourIndices(const Bitmap& bitmap) {
  for (int32_t y = 0; y < bitmap.height; ++y) {
    for (int32_t x = 0; x < bitmap.width; ++x) {
      if (PixelValue(bitmap, x, y) >= bitmap.palette.size()) {
        Refuse("pixel (" + std::to_string(x) + ", " + std::to_string(y) +
               ") uses a colour past the colour table");
      }
    }
  }
}

// Parses `file`; with `owned` (the same bytes in a vector) the pixels are moved into place
// inside that vector instead of being copied.
Bitmap Parse(std::span<const uint8_t> file, std::vector<uint8_t>* owned) {
  const Reader in(file);
  const uint32_t pixel_offset = ReadFileHeader(in);
  const InfoHeader header = ReadInfoHeader(in);
  Bitmap bitmap = PictureWithoutPixels(header);
  const PixelLayout layout = ReadCompression(in, header, bitmap);
  ReadColourTable(in, header, layout.colour_table_at, pixel_offset, bitmap);
  if (layout.storage == PixelStorage::kRunLength) {
    bitmap.pixels.assign(bitmap.RowBytes() * static_cast<size_t>(bitmap.height), 0);
    DecodeRunLengths(in, pixel_offset, bitmap);
  } else {
    ReadRows(in, pixel_offset, header.height < 0, owned, bitmap);
  }
  if (bitmap.bits_per_pixel <= 8) CheckColourIndices(bitmap);
  return bitmap;
}

}  // namespace

Bitmap ParseBitmap(std::span<const uint8_t> file) {
  return Parse(file, nullptr);
}

Bitmap LoadBitmap(const std::string& path) {
  std::vector<uint8_t> file = ReadWholeFile(path);
  return Parse(file, &file);
}

std::vector<uint8_t> EncodeBitmap(const Bitmap& bitmap) {
  size_t masks_size = bitmap.explicit_masks ? 12 : 0;
  size_t palette_size = bitmap.bits_per_pixel <= 8 ? 4 * bitmap.palette.size() : 0;
  size_t pixel_offset = kFileHeaderSize + kInfoHeaderSize + masks_size + palette_size;
  size_t row_bytes = bitmap.RowBytes();
  size_t data_size = row_bytes * static_cast<size_t>(bitmap.height);
  std::vector<uint8_t> file(pixel_offset + data_size, 0);

  file[0] = 'B';
  file[1] = 'M';
  WriteLe32(&file[2], static_cast<uint32_t>(file.size()));
  WriteLe32(&file[10], static_cast<uint32_t>(pixel_offset));
  uint8_t* info = &file[kFileHeaderSize];
  WriteLe32(info + 0, kInfoHeaderSize);
  WriteLe32(info + 4, static_cast<uint32_t>(bitmap.width));
  WriteLe32(info + 8, static_cast<uint32_t>(bitmap.height));  // positive: bottom row first
  WriteLe16(info + 12, 1);
  WriteLe16(info + 14, bitmap.bits_per_pixel);
  WriteLe32(info + 16, bitmap.explicit_masks ? kBiBitfields : kBiRgb);
  WriteLe32(info + 20, static_cast<uint32_t>(data_size));
  WriteLe32(info + 24, 2835);  // 72 dots per inch
  WriteLe32(info + 28, 2835);
  WriteLe32(info + 32, palette_size ? static_cast<uint32_t>(bitmap.palette.size()) : 0);
  size_t at = kFileHeaderSize + kInfoHeaderSize;
  if (bitmap.explicit_masks) {
    for (uint32_t mask : bitmap.masks) {
      WriteLe32(&file[at], mask);
      at += 4;
    }
  }
  if (palette_size) {
    for (uint32_t colour : bitmap.palette) {
      WriteLe32(&file[at], colour);
      at += 4;
    }
  }
  for (int32_t y = 0; y < bitmap.height; ++y) {
    std::memcpy(&file[pixel_offset + static_cast<size_t>(bitmap.height - 1 - y) * row_bytes],
                bitmap.Row(y), row_bytes);
  }
  return file;
}

void SaveBitmap(const Bitmap& bitmap, const std::string& path) {
  WriteWholeFile(path, EncodeBitmap(bitmap));
}

void SetBitmapSize(Bitmap& bitmap, int32_t width, int32_t height) {
  CheckSize(width, height);
  if (width == bitmap.width && height == bitmap.height) return;
  Bitmap resized = bitmap;
  resized.width = width;
  resized.height = height;
  size_t row_bytes = resized.RowBytes();
  resized.pixels.assign(row_bytes * static_cast<size_t>(height), 0);
  uint32_t white = WhiteValue(bitmap);
  int32_t kept_width = std::min(width, bitmap.width);
  for (int32_t y = 0; y < height; ++y) {
    bool kept_row = y < bitmap.height;
    if (kept_row && bitmap.bits_per_pixel % 8 == 0) {
      std::memcpy(resized.Row(y), bitmap.Row(y),
                  static_cast<size_t>(kept_width) * bitmap.bits_per_pixel / 8);
    } else if (kept_row) {
      for (int32_t x = 0; x < kept_width; ++x) {
        SetPixelValue(resized, x, y, PixelValue(bitmap, x, y));
      }
    }
    for (int32_t x = kept_row ? kept_width : 0; x < width; ++x)
      SetPixelValue(resized, x, y, white);
  }
  bitmap = std::move(resized);
}

uint32_t PixelColour(const Bitmap& bitmap, int32_t x, int32_t y) {
  uint32_t value = PixelValue(bitmap, x, y);
  switch (bitmap.bits_per_pixel) {
    case 1:
    case 4:
    case 8:
      return value < bitmap.palette.size() ? bitmap.palette[value] : 0;
    case 24:
      return value;
    default:
      return (MaskedChannel(value, bitmap.masks[0]) << 16) |
             (MaskedChannel(value, bitmap.masks[1]) << 8) | MaskedChannel(value, bitmap.masks[2]);
  }
}

}  // namespace qv
