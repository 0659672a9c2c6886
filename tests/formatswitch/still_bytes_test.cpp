#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

#include "download/crc32.h"
#include "formatswitch/parallel_rows.h"
#include "formatswitch/still_encoder.h"
#include "formatswitch/ycbcr_picture.h"
#include "tests/formatswitch/still_checks.h"

namespace qv::formatswitch {
namespace {

using testing::PictureKind;

// One encoding of a test picture: its settings, budget and the size and CRC-32 of the stream
// the encoder wrote for it when these values were taken.
struct PinnedStill {
  std::string name;
  PictureKind kind;
  int width, height;
  bool pal;
  int64_t budget;
  std::function<void(StillSettings&)> adjust;
  size_t size;
  uint32_t crc;
};

std::vector<PinnedStill> PinnedStills() {
  const auto keep = [](StillSettings&) {};
  return {
      // The stills as the converter makes them.
      {"photo 576", PictureKind::kPhoto, 720, 576, true, 30592, keep, 30587, 0x44B5B688},
      {"portrait 576", PictureKind::kPortrait, 720, 576, true, 30592, keep, 30592, 0x91875A61},
      {"flat-logo 576", PictureKind::kFlatLogo, 720, 576, true, 30592, keep, 22262, 0xF71BBDE0},
      {"text 576", PictureKind::kText, 720, 576, true, 30592, keep, 30592, 0x2B1FC4A8},
      {"gradient 576", PictureKind::kGradient, 720, 576, true, 30592, keep, 30591, 0x7FF4FA1E},
      {"noise 576", PictureKind::kNoise, 720, 576, true, 30592, keep, 30585, 0x2C26CC69},
      {"fine-detail 576", PictureKind::kFineDetail, 720, 576, true, 30592, keep, 30592, 0xACEC72BF},
      {"interlaced 576", PictureKind::kInterlaced, 720, 576, true, 30592, keep, 30592, 0xCD5C73AF},
      {"colour-bars 576", PictureKind::kColourBars, 720, 576, true, 30592, keep, 24903, 0x3765377A},
      {"photo 480", PictureKind::kPhoto, 720, 480, false, 30592, keep, 30584, 0xD93C8F28},
      {"text 480", PictureKind::kText, 720, 480, false, 30592, keep, 30592, 0x947E3AED},
      {"noise 480", PictureKind::kNoise, 720, 480, false, 30592, keep, 30591, 0x2BD6DC83},
      {"fine-detail 480", PictureKind::kFineDetail, 720, 480, false, 30592, keep, 30592,
       0xD283E267},
      {"interlaced 480", PictureKind::kInterlaced, 720, 480, false, 30592, keep, 30592, 0x80FE762D},
      // Budgets that leave only DC, that need the coarsest settings, and that fit the finest.
      {"photo, 600 bytes (DC only)", PictureKind::kPhoto, 720, 576, true, 600, keep, 10563,
       0x0C340155},
      {"photo, 15000 bytes", PictureKind::kPhoto, 720, 576, true, 15000, keep, 15000, 0x52D002B0},
      {"flat-logo, 400000 bytes", PictureKind::kFlatLogo, 720, 576, true, 400000, keep, 22782,
       0xCA09AA7E},
      // Pictures of few macroblock rows: a sample of one row, and too few rows to sample.
      {"text 720x96", PictureKind::kText, 720, 96, true, 2000, keep, 1994, 0xCD5E839F},
      {"photo 48x32", PictureKind::kPhoto, 48, 32, true, 200, keep, 200, 0x867020A6},
      // Parameter values that change the syntax or the quantising.
      {"intra_vlc_format 0", PictureKind::kPhoto, 720, 576, true, 30592,
       [](StillSettings& s) { s.parameters.intra_vlc_format[0] = 0; }, 30591, 0xC49D935C},
      {"alternate_scan 1", PictureKind::kPhoto, 720, 576, true, 30592,
       [](StillSettings& s) { s.parameters.alternate_scan[0] = 1; }, 30585, 0x1ADF5E65},
      {"q_scale_type 0", PictureKind::kPhoto, 720, 576, true, 30592,
       [](StillSettings& s) { s.parameters.q_scale_type[0] = 0; }, 30587, 0xB487DC02},
      {"intra_dc_precision 2", PictureKind::kPhoto, 720, 576, true, 30592,
       [](StillSettings& s) { s.parameters.intra_dc_precision = 2; }, 30592, 0x9A33570A},
      {"concealment_motion_vectors 1", PictureKind::kPhoto, 720, 576, true, 30592,
       [](StillSettings& s) { s.parameters.concealment_motion_vectors[0] = 1; }, 30592, 0xE30173CD},
      {"progressive frame", PictureKind::kInterlaced, 720, 576, true, 30592,
       [](StillSettings& s) {
         s.parameters.progressive_sequence = 1;
         s.parameters.progressive_frame = 1;
         s.parameters.frame_pred_frame_dct[0] = 1;
       },
       30592, 0x417E257A},
      {"loaded intra matrix", PictureKind::kPhoto, 720, 576, true, 30592,
       [](StillSettings& s) {
         QuantiserMatrix matrix;
         for (int i = 0; i < 64; ++i)
           matrix[static_cast<size_t>(i)] = static_cast<uint8_t>(8 + i / 2);
         s.intra_matrix = matrix;
       },
       30585, 0xA18285CB},
  };
}

// The encoder's output is a function of its input alone; these values hold it to the exact
// bytes, so that a change meant to keep the output (a reshaping of the code, a faster loop)
// is seen to keep it. A change meant to alter the output takes the new values from the
// failure messages, once the quality tests show the stills are no worse.
TEST(StillBytes, TheTestPicturesEncodeToThePinnedStreams) {
  for (const PinnedStill& pinned : PinnedStills()) {
    SCOPED_TRACE(pinned.name);
    StillSettings settings = testing::ShippedStillSettings(pinned.pal);
    settings.parameters.horizontal_size = pinned.width;
    settings.parameters.vertical_size = pinned.height;
    pinned.adjust(settings);
    Result<void> checked = CheckEncoderParameters(settings.parameters);
    ASSERT_TRUE(checked) << checked.error().text;
    Bitmap bitmap = testing::MakePicture(pinned.kind, pinned.width, pinned.height, 7);
    YCbCrPicture picture = ConvertToYCbCr(bitmap, settings.parameters.matrix_coefficients,
                                          settings.parameters.progressive_frame != 0);
    std::vector<uint8_t> stream = EncodeStill(picture, settings, pinned.budget);
    const uint32_t crc = Crc32Update(kCrc32Initial, stream);
    char values[40];
    std::snprintf(values, sizeof values, "%zu, 0x%08X", stream.size(), crc);
    EXPECT_EQ(stream.size(), pinned.size) << values;
    EXPECT_EQ(crc, pinned.crc) << values;
  }
}

// The rows are coded on several threads; the stream must be the same however many there are,
// and however the rows fall to them: one thread, as many as the rows of a small picture,
// more than the processor has cores.
TEST(StillBytes, TheStreamDoesNotDependOnTheNumberOfThreads) {
  struct Case {
    PictureKind kind;
    int height;
    int64_t budget;
  };
  const Case cases[] = {{PictureKind::kPhoto, 576, 30592},
                        {PictureKind::kInterlaced, 576, 30592},
                        {PictureKind::kNoise, 480, 30592},
                        {PictureKind::kPhoto, 576, 600},  // DC only
                        {PictureKind::kText, 48, 700}};
  struct ThreadsReset {
    ~ThreadsReset() { g_row_threads = 0; }
  } reset;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(testing::PictureKindName(c.kind)) + " " + std::to_string(c.height) +
                 " lines, " + std::to_string(c.budget) + " bytes");
    StillSettings settings = testing::ShippedStillSettings(c.height == 576);
    settings.parameters.vertical_size = c.height;
    Bitmap bitmap = testing::MakePicture(c.kind, 720, c.height, 11);
    std::vector<uint8_t> first;
    for (unsigned threads : {1u, 2u, 3u, 4u, 7u}) {
      g_row_threads = threads;
      YCbCrPicture picture = ConvertToYCbCr(bitmap, settings.parameters.matrix_coefficients,
                                            settings.parameters.progressive_frame != 0);
      std::vector<uint8_t> stream = EncodeStill(picture, settings, c.budget);
      if (first.empty()) {
        first = stream;
        continue;
      }
      EXPECT_EQ(stream, first) << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace qv::formatswitch
