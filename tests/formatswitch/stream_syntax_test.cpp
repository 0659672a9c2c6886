#include <gtest/gtest.h>

#include <set>
#include <string>

#include <cmath>

#include "formatswitch/forward_dct.h"
#include "formatswitch/still_encoder.h"
#include "formatswitch/vlc_tables.h"
#include "tests/formatswitch/still_checks.h"
#include "workfiles/parameter_files.h"

namespace qv::formatswitch {
namespace {

std::string Bits(Vlc vlc) {
  std::string text;
  for (int i = vlc.length - 1; i >= 0; --i)
    text += ((vlc.code >> i) & 1) ? '1' : '0';
  return text;
}

// No code may be the beginning of another, or a decoder could not tell them apart.
void ExpectPrefixFree(const std::vector<std::string>& codes, const std::string& table) {
  std::set<std::string> sorted(codes.begin(), codes.end());
  ASSERT_EQ(sorted.size(), codes.size()) << table << ": a code appears twice";
  for (auto it = sorted.begin(); std::next(it) != sorted.end(); ++it) {
    const std::string& next = *std::next(it);
    EXPECT_NE(next.rfind(*it, 0), 0u) << table << ": " << *it << " begins " << next;
  }
}

TEST(CodeTables, CoefficientAndDcTablesArePrefixFree) {
  for (int table = 0; table < 2; ++table) {
    std::vector<std::string> codes = {Bits(EndOfBlockCode(table)), Bits(kEscapeCode)};
    int count = 0;
    for (int run = 0; run < 64; ++run) {
      for (int level = 1; level <= kMaxTableLevel; ++level) {
        Vlc vlc = CoefficientCode(table, run, level);
        if (!vlc.length) {
          EXPECT_EQ(CoefficientBits(table, run, level), 24);
          continue;
        }
        ++count;
        codes.push_back(Bits(vlc));
        EXPECT_EQ(CoefficientBits(table, run, level), vlc.length + 1);
      }
    }
    EXPECT_EQ(count, 111) << "table " << table;  // every (run, level) of B.14 has a code in both
    ExpectPrefixFree(codes, "coefficients " + std::to_string(table));
  }
  EXPECT_EQ(Bits(CoefficientCode(0, 0, 1)), "11");
  EXPECT_EQ(Bits(CoefficientCode(1, 0, 1)), "10");
  EXPECT_EQ(Bits(EndOfBlockCode(1)), "0110");
  EXPECT_EQ(CoefficientBits(1, 0, 41), 24);  // past the table: an escape
  for (bool luminance : {true, false}) {
    std::vector<std::string> codes;
    for (int size = 0; size <= 11; ++size)
      codes.push_back(Bits(DcSizeCode(luminance, size)));
    ExpectPrefixFree(codes, luminance ? "dc luminance" : "dc chrominance");
  }
}

TEST(CodeTables, ScansQuantiserScalesAndTheDefaultMatrix) {
  for (int alternate = 0; alternate < 2; ++alternate) {
    std::set<int> positions(ScanOrder(alternate).begin(), ScanOrder(alternate).end());
    EXPECT_EQ(positions.size(), 64u);
    EXPECT_EQ(ScanOrder(alternate)[0], 0);
    EXPECT_EQ(ScanOrder(alternate)[63], 63);
  }
  EXPECT_EQ(ScanOrder(0)[2], 8);  // zigzag goes right, then down-left
  EXPECT_EQ(ScanOrder(1)[1], 8);  // the alternate scan goes down first
  EXPECT_EQ(ScanOrder(1)[4], 1);
  EXPECT_EQ(QuantiserScale(1, 1), 1);
  EXPECT_EQ(QuantiserScale(1, 8), 8);
  EXPECT_EQ(QuantiserScale(1, 9), 10);
  EXPECT_EQ(QuantiserScale(1, 17), 28);
  EXPECT_EQ(QuantiserScale(1, 25), 64);
  EXPECT_EQ(QuantiserScale(1, 31), 112);
  EXPECT_EQ(QuantiserScale(0, 31), 62);
  EXPECT_EQ(kDefaultIntraMatrix[0], 8);
  EXPECT_EQ(kDefaultIntraMatrix[63], 83);
  EXPECT_EQ(kDefaultIntraMatrix[8], 16);
}

// Reads fields most significant bit first.
class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& bytes, size_t byte)
      : bytes_(bytes), bit_(byte * 8) {}
  uint32_t Get(int length) {
    uint32_t value = 0;
    for (int i = 0; i < length; ++i, ++bit_) {
      value = (value << 1) | ((bytes_.at(bit_ / 8) >> (7 - bit_ % 8)) & 1);
    }
    return value;
  }

 private:
  const std::vector<uint8_t>& bytes_;
  size_t bit_;
};

// Offsets of the byte after each start code 0x000001xx with that xx.
std::vector<size_t> FindStartCodes(const std::vector<uint8_t>& bytes, uint8_t code) {
  std::vector<size_t> found;
  for (size_t i = 0; i + 3 < bytes.size(); ++i) {
    if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1 && bytes[i + 3] == code)
      found.push_back(i + 4);
  }
  return found;
}

TEST(StillStream, HeadersCarryTheParameterFileValues) {
  for (bool pal : {true, false}) {
    SCOPED_TRACE(pal ? "PAL" : "NTSC");
    StillSettings settings = testing::ShippedStillSettings(pal);
    const int height = pal ? 576 : 480;
    YCbCrPicture picture{720, height, std::vector<uint8_t>(720u * height, 100),
                         std::vector<uint8_t>(360u * height / 2, 128),
                         std::vector<uint8_t>(360u * height / 2, 90)};
    std::vector<uint8_t> stream = EncodeStill(picture, settings, 30592);

    std::vector<size_t> sequence = FindStartCodes(stream, 0xB3);
    ASSERT_EQ(sequence.size(), 1u);
    EXPECT_EQ(sequence[0], 4u);
    BitReader s(stream, sequence[0]);
    EXPECT_EQ(s.Get(12), 720u);
    EXPECT_EQ(s.Get(12), static_cast<uint32_t>(height));
    EXPECT_EQ(s.Get(4), 2u);                      // aspect_ratio_information
    EXPECT_EQ(s.Get(4), pal ? 3u : 5u);           // frame_rate_code
    EXPECT_EQ(s.Get(18), pal ? 15296u : 18356u);  // bit_rate in 400 bit/s units, rounded up
    EXPECT_EQ(s.Get(1), 1u);                      // marker
    EXPECT_EQ(s.Get(10), 112u);                   // vbv_buffer_size
    EXPECT_EQ(s.Get(1), 0u);                      // constrained_parameters_flag
    EXPECT_EQ(s.Get(2), 0u);                      // default matrices

    std::vector<size_t> extensions = FindStartCodes(stream, 0xB5);
    ASSERT_EQ(extensions.size(), 3u);
    BitReader e(stream, extensions[0]);
    EXPECT_EQ(e.Get(4), 1u);     // sequence_extension
    EXPECT_EQ(e.Get(8), 0x48u);  // Main profile at Main level
    EXPECT_EQ(e.Get(1), 0u);     // progressive_sequence
    EXPECT_EQ(e.Get(2), 1u);     // chroma_format 4:2:0
    EXPECT_EQ(e.Get(4), 0u);     // size extensions
    EXPECT_EQ(e.Get(12), 0u);    // bit_rate_extension
    EXPECT_EQ(e.Get(1), 1u);
    EXPECT_EQ(e.Get(8), 0u);  // vbv_buffer_size_extension
    EXPECT_EQ(e.Get(1), 0u);  // low_delay
    BitReader d(stream, extensions[1]);
    EXPECT_EQ(d.Get(4), 2u);  // sequence_display_extension
    EXPECT_EQ(d.Get(3), pal ? 1u : 2u);
    EXPECT_EQ(d.Get(1), 1u);
    EXPECT_EQ(d.Get(8), 5u);
    EXPECT_EQ(d.Get(8), 5u);
    EXPECT_EQ(d.Get(8), pal ? 5u : 4u);
    EXPECT_EQ(d.Get(14), 720u);
    EXPECT_EQ(d.Get(1), 1u);
    EXPECT_EQ(d.Get(14), static_cast<uint32_t>(height));

    std::vector<size_t> gop = FindStartCodes(stream, 0xB8);
    ASSERT_EQ(gop.size(), 1u);
    BitReader g(stream, gop[0]);
    EXPECT_EQ(g.Get(25), 1u << 12);  // time code 00:00:00:00 with its marker bit
    EXPECT_EQ(g.Get(1), 1u);         // closed_gop

    std::vector<size_t> pictures = FindStartCodes(stream, 0x00);
    ASSERT_EQ(pictures.size(), 1u);
    BitReader ph(stream, pictures[0]);
    EXPECT_EQ(ph.Get(10), 0u);
    EXPECT_EQ(ph.Get(3), 1u);  // I picture
    EXPECT_EQ(ph.Get(16), 0xFFFFu);
    BitReader pc(stream, extensions[2]);
    EXPECT_EQ(pc.Get(4), 8u);  // picture_coding_extension
    EXPECT_EQ(pc.Get(16), 0xFFFFu);
    EXPECT_EQ(pc.Get(2), 0u);  // intra_dc_precision
    EXPECT_EQ(pc.Get(2), 3u);  // frame picture
    EXPECT_EQ(pc.Get(1), 1u);  // top_field_first
    EXPECT_EQ(pc.Get(1), 0u);  // frame_pred_frame_dct
    EXPECT_EQ(pc.Get(1), 0u);  // concealment_motion_vectors
    EXPECT_EQ(pc.Get(1), 1u);  // q_scale_type
    EXPECT_EQ(pc.Get(1), 1u);  // intra_vlc_format
    EXPECT_EQ(pc.Get(1), 0u);  // alternate_scan
    EXPECT_EQ(pc.Get(1), 0u);  // repeat_first_field
    EXPECT_EQ(pc.Get(1), 0u);  // chroma_420_type
    EXPECT_EQ(pc.Get(1), 0u);  // progressive_frame

    int slices = 0;
    for (size_t i = 0; i + 3 < stream.size(); ++i) {
      if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1 && stream[i + 3] >= 1 &&
          stream[i + 3] <= 0xAF) {
        EXPECT_EQ(stream[i + 3], ++slices);  // one slice per macroblock row, in order
      }
    }
    EXPECT_EQ(slices, height / 16);
    EXPECT_EQ(std::vector<uint8_t>(stream.end() - 4, stream.end()),
              (std::vector<uint8_t>{0, 0, 1, 0xB7}));
  }
}

TEST(StillStream, LoadsMatricesInZigzagOrderAndMeetsEveryBudget) {
  StillSettings settings;
  Result<EncoderParameters> parsed = ParseParameterFile(kPalParContent);
  ASSERT_TRUE(parsed) << parsed.error().text;
  settings.parameters = *parsed;
  QuantiserMatrix matrix;
  for (int i = 0; i < 64; ++i)
    matrix[i] = static_cast<uint8_t>(8 + i);
  settings.intra_matrix = matrix;
  YCbCrPicture picture{720, 576, std::vector<uint8_t>(720u * 576),
                       std::vector<uint8_t>(360u * 288, 128),
                       std::vector<uint8_t>(360u * 288, 128)};
  for (size_t i = 0; i < picture.y.size(); ++i)
    picture.y[i] = static_cast<uint8_t>((i * 7919) % 251);
  // From generous to below what any stream of this picture can reach.
  int64_t previous = 1 << 30;
  for (int64_t budget : {60000, 30592, 12000, 2000}) {
    std::vector<uint8_t> stream = EncodeStill(picture, settings, budget);
    if (budget >= 12000) {
      EXPECT_LE(static_cast<int64_t>(stream.size()), budget);
    }
    EXPECT_LE(static_cast<int64_t>(stream.size()), previous);
    previous = static_cast<int64_t>(stream.size());
    BitReader s(stream, 8);  // past the sizes, aspect ratio and frame rate
    s.Get(30);
    EXPECT_EQ(s.Get(1), 1u);   // load_intra_quantiser_matrix
    EXPECT_EQ(s.Get(8), 8u);   // zigzag 0: raster 0
    EXPECT_EQ(s.Get(8), 9u);   // zigzag 1: raster 1
    EXPECT_EQ(s.Get(8), 16u);  // zigzag 2: raster 8
  }
}

}  // namespace
}  // namespace qv::formatswitch

namespace qv::formatswitch {
namespace {

// The fast transform against the definition, F[v][u] = C(u) C(v) / 4 sum f[y][x] cos cos.
TEST(ForwardDct, MatchesTheDefinition) {
  float in[64], out[64];
  for (int i = 0; i < 64; ++i)
    in[i] = static_cast<float>((i * 37 + (i / 8) * 11) % 256);
  ForwardDct(in, out);
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
          sum += in[8 * y + x] * std::cos((2 * x + 1) * u * M_PI / 16) *
                 std::cos((2 * y + 1) * v * M_PI / 16);
        }
      }
      double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
      EXPECT_NEAR(out[8 * v + u], cu * cv / 4 * sum, 1e-3) << u << "," << v;
    }
  }
}

}  // namespace
}  // namespace qv::formatswitch

namespace qv::formatswitch {
namespace {

// Blocks that alternate between the extremes make every DC difference as large as it can be,
// and noise on top leaves nothing for AC to gain cheaply: even so one encoding fits.
TEST(StillStream, TheFirstEncodingFitsEvenTheHardestPicture) {
  for (const std::string_view par : {kPalParContent, kNtscParContent}) {
    StillSettings settings;
    Result<EncoderParameters> parsed = ParseParameterFile(par);
    ASSERT_TRUE(parsed) << parsed.error().text;
    settings.parameters = *parsed;
    const int height = settings.parameters.vertical_size;
    YCbCrPicture picture{720, height, std::vector<uint8_t>(720u * height),
                         std::vector<uint8_t>(360u * height / 2),
                         std::vector<uint8_t>(360u * height / 2)};
    uint32_t seed = 1;
    auto noise = [&seed] {
      seed = seed * 1103515245u + 12345u;
      return static_cast<int>((seed >> 16) % 31) - 15;
    };
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < 720; ++x) {
        bool high = ((x / 8) + (y / 8)) % 2;
        picture.y[static_cast<size_t>(y) * 720 + x] =
            static_cast<uint8_t>((high ? 220 : 30) + noise());
      }
    }
    for (int y = 0; y < height / 2; ++y) {
      for (int x = 0; x < 360; ++x) {
        bool high = ((x / 8) + (y / 8)) % 2;
        picture.cb[static_cast<size_t>(y) * 360 + x] =
            static_cast<uint8_t>((high ? 225 : 30) + noise());
        picture.cr[static_cast<size_t>(y) * 360 + x] =
            static_cast<uint8_t>((high ? 30 : 225) + noise());
      }
    }
    StillStatistics statistics;
    std::vector<uint8_t> stream = EncodeStill(picture, settings, 30592, &statistics);
    EXPECT_LE(stream.size(), 30592u);
    EXPECT_GT(stream.size(), 30592u * 95 / 100);
  }
}

}  // namespace
}  // namespace qv::formatswitch
