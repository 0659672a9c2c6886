#include "platform/bitmap.h"

#include <gtest/gtest.h>

#include "platform/io_error.h"
#include "platform/little_endian.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"

namespace qv {
namespace {

using testing::GreyPalette;

// A bitmap file built field by field, so that each test can make it lie in one place.
struct FileSpec {
  int32_t width = 5;
  int32_t height = 3;  // negative: top-down
  uint16_t bits = 24;
  uint32_t header_size = 40;
  uint32_t compression = 0;
  std::vector<uint32_t> masks;  // written after a 40-byte header, or inside a longer one
  std::vector<uint32_t> palette;
  uint32_t colours_used = 0;
  // Pixel value of (x, y), y counted from the top.
  uint32_t (*pixel)(int x, int y) = [](int x, int y) { return static_cast<uint32_t>(x + 7 * y); };
};

void SetBits(std::vector<uint8_t>& row, int x, uint16_t bits, uint32_t value) {
  size_t bit = static_cast<size_t>(x) * bits;
  if (bits < 8) {
    int shift = 8 - bits - static_cast<int>(bit % 8);
    row[bit / 8] |= static_cast<uint8_t>(value << shift);
  } else {
    WriteLe(&row[bit / 8], value, bits / 8);
  }
}

std::vector<uint8_t> BuildFile(const FileSpec& spec) {
  int32_t rows = spec.height < 0 ? -spec.height : spec.height;
  size_t row_bytes = (static_cast<size_t>(spec.width) * spec.bits + 31) / 32 * 4;
  size_t masks_after = spec.header_size == 40 ? 4 * spec.masks.size() : 0;
  size_t offset = 14 + spec.header_size + masks_after + 4 * spec.palette.size();
  std::vector<uint8_t> file(offset + row_bytes * static_cast<size_t>(rows), 0);
  file[0] = 'B';
  file[1] = 'M';
  WriteLe32(&file[2], static_cast<uint32_t>(file.size()));
  WriteLe32(&file[10], static_cast<uint32_t>(offset));
  WriteLe32(&file[14], spec.header_size);
  WriteLe32(&file[18], static_cast<uint32_t>(spec.width));
  WriteLe32(&file[22], static_cast<uint32_t>(spec.height));
  WriteLe16(&file[26], 1);
  WriteLe16(&file[28], spec.bits);
  WriteLe32(&file[30], spec.compression);
  WriteLe32(&file[46], spec.colours_used);
  for (size_t i = 0; i < spec.masks.size(); ++i)
    WriteLe32(&file[54 + 4 * i], spec.masks[i]);
  size_t palette_at = 14 + spec.header_size + masks_after;
  for (size_t i = 0; i < spec.palette.size(); ++i) {
    WriteLe32(&file[palette_at + 4 * i], spec.palette[i]);
  }
  for (int32_t y = 0; y < rows; ++y) {
    std::vector<uint8_t> row(row_bytes, 0);
    for (int x = 0; x < spec.width; ++x)
      SetBits(row, x, spec.bits, spec.pixel(x, y));
    int32_t stored = spec.height < 0 ? y : rows - 1 - y;
    std::copy(row.begin(), row.end(),
              file.begin() + static_cast<long>(offset + stored * row_bytes));
  }
  return file;
}

TEST(Bitmap, LoadsEveryDepthInBothRowOrdersAndSavesItBack) {
  struct Case {
    uint16_t bits;
    uint32_t header_size;
    uint32_t compression;
    std::vector<uint32_t> masks;
    int palette;
  };
  const Case cases[] = {
      {1, 40, 0, {}, 2},
      {4, 40, 0, {}, 16},
      {8, 40, 0, {}, 256},
      {16, 40, 0, {}, 0},
      {16, 40, 3, {0xF800, 0x07E0, 0x001F}, 0},
      {24, 40, 0, {}, 0},
      {24, 124, 0, {}, 0},
      {32, 40, 0, {}, 0},
      {32, 108, 3, {0x0000FF00, 0x00FF0000, 0xFF000000}, 0},
  };
  for (const Case& c : cases) {
    for (int32_t height : {3, -3}) {
      FileSpec spec;
      spec.width = 9;
      spec.height = height;
      spec.bits = c.bits;
      spec.header_size = c.header_size;
      spec.compression = c.compression;
      spec.masks = c.masks;
      spec.palette = c.palette ? GreyPalette(c.palette) : std::vector<uint32_t>{};
      if (c.bits == 1) spec.pixel = [](int x, int y) { return static_cast<uint32_t>((x + y) % 2); };
      if (c.bits == 4)
        spec.pixel = [](int x, int y) { return static_cast<uint32_t>((x + 3 * y) % 16); };
      SCOPED_TRACE("bits " + std::to_string(c.bits) + " header " + std::to_string(c.header_size) +
                   " height " + std::to_string(height));
      Bitmap bitmap = ParseBitmap(BuildFile(spec));
      EXPECT_EQ(bitmap.width, 9);
      EXPECT_EQ(bitmap.height, 3);
      EXPECT_EQ(bitmap.bits_per_pixel, c.bits);
      // Row 0 is the top row whatever the file's order; re-encoded files read back the same.
      Bitmap again = ParseBitmap(EncodeBitmap(bitmap));
      for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 9; ++x) {
          EXPECT_EQ(PixelColour(again, x, y), PixelColour(bitmap, x, y)) << x << "," << y;
        }
      }
      if (c.palette) {
        EXPECT_EQ(PixelColour(bitmap, 1, 0), spec.palette[spec.pixel(1, 0)]);
        EXPECT_EQ(PixelColour(bitmap, 2, 2), spec.palette[spec.pixel(2, 2)]);
      }
    }
  }
  // Pixel formats decode to the right colours.
  FileSpec rgb555;
  rgb555.bits = 16;
  rgb555.pixel = [](int, int) { return 0x7C00u; };  // full red
  EXPECT_EQ(PixelColour(ParseBitmap(BuildFile(rgb555)), 0, 0), 0xFF0000u);
  FileSpec bgr;
  bgr.pixel = [](int x, int) { return x == 0 ? 0x123456u : 0u; };
  EXPECT_EQ(PixelColour(ParseBitmap(BuildFile(bgr)), 0, 0), 0x123456u);
}

TEST(Bitmap, SavesTwentyFourBitPicturesInTheFiftyFourByteLayout) {
  Bitmap bitmap = MakeBitmap24(3, 2);
  bitmap.Row(0)[0] = 1;  // top-left blue
  bitmap.Row(1)[0] = 2;  // bottom-left blue
  std::vector<uint8_t> file = EncodeBitmap(bitmap);
  ASSERT_EQ(file.size(), 54u + 2 * 12);
  EXPECT_EQ(ReadLe32(&file[2]), file.size());
  EXPECT_EQ(ReadLe32(&file[10]), 54u);
  EXPECT_EQ(ReadLe32(&file[14]), 40u);
  EXPECT_EQ(ReadLe32(&file[18]), 3u);
  EXPECT_EQ(ReadLe32(&file[22]), 2u);  // positive: bottom row first
  EXPECT_EQ(ReadLe16(&file[28]), 24u);
  EXPECT_EQ(ReadLe32(&file[30]), 0u);
  EXPECT_EQ(file[54], 2);       // the bottom row comes first
  EXPECT_EQ(file[54 + 12], 1);  // rows are padded from 9 to 12 bytes

  testing::TempDir dir;
  SaveBitmap(bitmap, dir.File("a.bmp"));
  EXPECT_EQ(LoadBitmap(dir.File("a.bmp")).pixels, bitmap.pixels);
}

TEST(Bitmap, ResizingKeepsTheTopLeftCornerAndFillsWithWhite) {
  Bitmap bitmap = MakeBitmap24(4, 3);
  for (uint8_t& value : bitmap.pixels)
    value = 7;
  SetBitmapSize(bitmap, 6, 2);
  ASSERT_EQ(bitmap.width, 6);
  ASSERT_EQ(bitmap.height, 2);
  EXPECT_EQ(PixelColour(bitmap, 3, 1), 0x070707u);
  EXPECT_EQ(PixelColour(bitmap, 4, 0), 0xFFFFFFu);
  SetBitmapSize(bitmap, 2, 4);
  EXPECT_EQ(PixelColour(bitmap, 1, 1), 0x070707u);
  EXPECT_EQ(PixelColour(bitmap, 0, 2), 0xFFFFFFu);
  EXPECT_EQ(PixelColour(bitmap, 1, 3), 0xFFFFFFu);

  // Indexed pictures grow with the palette entry nearest white.
  FileSpec spec;
  spec.bits = 4;
  spec.palette = {0x000000, 0xF0F0F0, 0x808080};
  spec.colours_used = 3;
  spec.pixel = [](int, int) { return 2u; };
  Bitmap indexed = ParseBitmap(BuildFile(spec));
  SetBitmapSize(indexed, 8, 4);
  EXPECT_EQ(PixelColour(indexed, 4, 2), 0x808080u);
  EXPECT_EQ(PixelColour(indexed, 7, 0), 0xF0F0F0u);
  EXPECT_EQ(PixelColour(indexed, 0, 3), 0xF0F0F0u);
  EXPECT_THROW(SetBitmapSize(indexed, 0, 4), IoError);
}

// A bitmap file with run-length pixels `data` at 8 or 4 bits per pixel, and a grey colour
// table of 16 entries.
std::vector<uint8_t> RunLengthFile(int32_t width, int32_t height, uint16_t bits,
                                   const std::vector<uint8_t>& data) {
  return testing::RunLengthBitmapFile(width, height, bits, GreyPalette(16), data);
}

// Pixel indices row by row, top row first.
std::vector<std::vector<uint32_t>> Indices(const Bitmap& bitmap) {
  std::vector<std::vector<uint32_t>> rows(static_cast<size_t>(bitmap.height));
  for (int32_t y = 0; y < bitmap.height; ++y) {
    for (int32_t x = 0; x < bitmap.width; ++x) {
      uint32_t colour = PixelColour(bitmap, x, y);
      rows[static_cast<size_t>(y)].push_back((colour & 0xFF) / 17);  // grey level to index
    }
  }
  return rows;
}

TEST(Bitmap, LoadsRunLengthPixelsAtEightAndFourBits) {
  // Bottom row: a run of 3, then 3 literal pixels (padded to 4 bytes), end of row. Middle row:
  // a jump of 2 right and 1 up, so it stays index 0 and the top row begins at x 2: a run of 2,
  // then the end of the picture; the pixels never named stay index 0.
  const std::vector<uint8_t> eight = {3, 5, 0, 3, 1, 2, 9, 0, 0, 0, 0, 2, 2, 1, 2, 7, 0, 1};
  Bitmap bitmap = ParseBitmap(RunLengthFile(6, 3, 8, eight));
  using Rows = std::vector<std::vector<uint32_t>>;
  EXPECT_EQ(Indices(bitmap), (Rows{{0, 0, 7, 7, 0, 0}, {0, 0, 0, 0, 0, 0}, {5, 5, 5, 1, 2, 9}}));
  EXPECT_EQ(bitmap.bits_per_pixel, 8);

  // At 4 bits a run alternates the two indices of its byte; 3 literal pixels take 2 bytes,
  // an even number already.
  const std::vector<uint8_t> four = {5, 0x3A, 0, 3, 0x12, 0x30, 0, 0, 1, 0xF0, 0, 1};
  bitmap = ParseBitmap(RunLengthFile(8, 2, 4, four));
  EXPECT_EQ(Indices(bitmap), (Rows{{15, 0, 0, 0, 0, 0, 0, 0}, {3, 10, 3, 10, 3, 1, 2, 3}}));

  // Saved back, the pixels stay and the depth stays 8: the file is stored uncompressed.
  Bitmap again = ParseBitmap(EncodeBitmap(ParseBitmap(RunLengthFile(6, 3, 8, eight))));
  EXPECT_EQ(Indices(again)[2], (std::vector<uint32_t>{5, 5, 5, 1, 2, 9}));
  EXPECT_EQ(again.bits_per_pixel, 8);
}

TEST(Bitmap, LoadsTheTwelveByteCoreHeader) {
  // 2 x 2 at 24 bits (rows of 8 bytes), and at 8 bits with a 3-byte colour table.
  std::vector<uint8_t> file(14 + 12 + 16, 0);
  file[0] = 'B';
  file[1] = 'M';
  WriteLe32(&file[2], static_cast<uint32_t>(file.size()));
  WriteLe32(&file[10], 26);
  WriteLe32(&file[14], 12);
  WriteLe16(&file[18], 2);
  WriteLe16(&file[20], 2);
  WriteLe16(&file[22], 1);
  WriteLe16(&file[24], 24);
  WriteLe24(&file[26], 0x112233);      // bottom left
  WriteLe24(&file[34 + 3], 0xAABBCC);  // top right
  Bitmap bitmap = ParseBitmap(file);
  EXPECT_EQ(PixelColour(bitmap, 0, 1), 0x112233u);
  EXPECT_EQ(PixelColour(bitmap, 1, 0), 0xAABBCCu);
  EXPECT_EQ(EncodeBitmap(bitmap)[28], 24);

  std::vector<uint8_t> indexed(14 + 12 + 3 * 256 + 8, 0);
  std::copy(file.begin(), file.begin() + 26, indexed.begin());
  WriteLe32(&indexed[10], 26 + 3 * 256);
  WriteLe16(&indexed[24], 8);
  WriteLe24(&indexed[26 + 3 * 7], 0x123456);
  indexed[26 + 3 * 256 + 4] = 7;  // top left
  EXPECT_EQ(PixelColour(ParseBitmap(indexed), 0, 0), 0x123456u);
  indexed.resize(26 + 3 * 256 + 7);
  EXPECT_THROW(ParseBitmap(indexed), IoError);
}

void ExpectRefused(const std::vector<uint8_t>& file, const std::string& fragment) {
  try {
    ParseBitmap(file);
    ADD_FAILURE() << "accepted a file that should say: " << fragment;
  } catch (const IoError& error) {
    EXPECT_NE(std::string(error.what()).find(fragment), std::string::npos) << error.what();
  }
}

TEST(Bitmap, RefusesFilesThatLieOrAreCutShort) {
  FileSpec spec;
  spec.bits = 8;
  spec.palette = GreyPalette(256);
  std::vector<uint8_t> good = BuildFile(spec);
  // Every shorter prefix is refused, never read past.
  for (size_t length = 0; length < good.size(); ++length) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(length));
    EXPECT_THROW(ParseBitmap(cut), IoError) << length;
  }

  std::vector<uint8_t> file = good;
  file[0] = 'X';
  ExpectRefused(file, "\"BM\"");

  file = good;
  WriteLe32(&file[18], 30000);  // far more pixels than the file holds
  WriteLe32(&file[22], 30000);
  ExpectRefused(file, "past the end");
  WriteLe32(&file[18], 0x7FFFFFFF);
  ExpectRefused(file, "out of range");
  WriteLe32(&file[18], 5);
  WriteLe32(&file[22], 0x80000000);  // a height no row order can have
  ExpectRefused(file, "out of range");

  file = good;
  WriteLe32(&file[10], 0xFFFFFFF0);  // pixel data offset past the end
  ExpectRefused(file, "past the end");
  WriteLe32(&file[10], 20);  // pixels inside the headers
  ExpectRefused(file, "overlaps");

  file = good;
  WriteLe32(&file[46], 300);  // more colours than 8 bits index
  ExpectRefused(file, "colour count");

  file = good;
  WriteLe32(&file[14], 64);
  ExpectRefused(file, "header size");
  file = good;
  WriteLe16(&file[28], 7);
  ExpectRefused(file, "bits per pixel");
  file = good;
  WriteLe32(&file[30], 2);  // run-length compression of 4-bit pixels on 8-bit ones
  ExpectRefused(file, "needs 4 bits");
  file = good;
  WriteLe32(&file[30], 4);
  ExpectRefused(file, "compression");

  // Run-length pixels past the right edge or the top row, without their end, or for a picture
  // far larger than the file could be.
  ExpectRefused(RunLengthFile(4, 2, 8, {5, 1, 0, 1}), "right edge");
  ExpectRefused(RunLengthFile(4, 1, 8, {0, 2, 0, 1, 1, 1, 0, 1}), "top row");
  ExpectRefused(RunLengthFile(2, 1, 8, {0, 3, 9, 9, 9, 0, 0, 1}), "right edge");
  const std::vector<uint8_t> runs = {2, 1, 0, 0, 0, 4, 1, 2, 3, 4, 0, 1};
  for (size_t length = 0; length < runs.size(); ++length) {
    std::vector<uint8_t> cut(runs.begin(), runs.begin() + static_cast<long>(length));
    ExpectRefused(RunLengthFile(4, 2, 8, cut), "past the end");
  }
  ExpectRefused(RunLengthFile(30000, 30000, 8, {0, 1}), "too large");
  ExpectRefused(RunLengthFile(4, -2, 8, {0, 1}), "top row first");

  // An index beyond a short colour table.
  spec.palette = GreyPalette(4);
  spec.colours_used = 4;
  spec.pixel = [](int x, int) { return static_cast<uint32_t>(x); };
  ExpectRefused(BuildFile(spec), "past the colour table");

  FileSpec bad_masks;
  bad_masks.bits = 16;
  bad_masks.compression = 3;
  bad_masks.masks = {0xF0F0, 0x0F00, 0x000F};  // red is not contiguous
  ExpectRefused(BuildFile(bad_masks), "masks");
}

}  // namespace
}  // namespace qv
