// Decoding a logo still in the tool. The stream's structure is checked first, start code by
// start code (ISO/IEC 13818-2, 6.2): a sequence header with its sequence extension naming a
// 720 x 576 or 720 x 480 4:2:0 frame, exactly one picture, intra-coded and coded as a frame,
// and the sequence end code as the stream's last four bytes. libmpeg2 then decodes it, twice,
// into frame buffers filled with two different values: every sample the decoder writes comes
// out the same both times, so a sample that differs belongs to a macroblock no slice decoded
// (a slice missing, or cut off where the decoder met something it could not read). libmpeg2
// reports no such errors itself; it skips what it cannot read.
#include "workfiles/still_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>
#include <new>
#include <string>
#include <vector>

extern "C" {
#include <mpeg2.h>
}

namespace qv {

namespace {

constexpr uint8_t kPictureStartCode = 0x00;
constexpr uint8_t kSequenceHeaderCode = 0xB3;
constexpr uint8_t kExtensionStartCode = 0xB5;
constexpr uint8_t kSequenceEndCode = 0xB7;
constexpr uint8_t kSequenceExtensionId = 1;
constexpr uint8_t kPictureCodingExtensionId = 8;
constexpr int kChromaFormat420 = 1;
constexpr int kFramePicture = 3;
constexpr int kIntraCoded = 1;
constexpr int kStillWidth = 720;

// A start code: the prefix 00 00 01 at `offset`, then the code's value.
struct StartCode {
  size_t offset;
  uint8_t value;
};

std::vector<StartCode> FindStartCodes(std::span<const uint8_t> stream) {
  std::vector<StartCode> codes;
  for (size_t i = 0; i + 3 < stream.size(); ++i) {
    if (stream[i] == 0 && stream[i + 1] == 0 && stream[i + 2] == 1) {
      codes.push_back({i, stream[i + 3]});
      i += 3;
    }
  }
  return codes;
}

std::string Hex(size_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  do {
    text.insert(text.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value > 0);
  return "0x" + text;
}

// What the headers say about the still.
struct StillLayout {
  int width = 0;
  int height = 0;
  size_t picture_offset = 0;
};

const char* CodingTypeName(int type) {
  switch (type) {
    case 2:
      return "predictive-coded (P)";
    case 3:
      return "bidirectionally predictive-coded (B)";
    case 4:
      return "DC intra-coded (D)";
    default:
      return "of a forbidden coding type";
  }
}

const char* ChromaFormatName(int format) {
  return format == 2 ? "4:2:2" : format == 3 ? "4:4:4" : "a reserved chroma format";
}

// The headers of a still, checked against its buffer: what a still must be before a decoder
// is given it.
Result<StillLayout> CheckStructure(std::span<const uint8_t> stream,
                                   const std::vector<StartCode>& codes) {
  const size_t size = stream.size();
  // Bytes [offset, offset + count) of the stream, when it holds them all.
  auto fields = [&](size_t offset, size_t count) -> const uint8_t* {
    return offset + count <= size ? stream.data() + offset : nullptr;
  };

  // The sequence header, with nothing but zero bytes before it.
  const bool leading_zeros =
      !codes.empty() && std::all_of(stream.begin(), stream.begin() + codes[0].offset,
                                    [](uint8_t byte) { return byte == 0; });
  if (codes.empty() || codes[0].value != kSequenceHeaderCode || !leading_zeros) {
    return Fail("sequence header", 0, "the stream does not begin with a sequence header");
  }
  const size_t sequence_at = codes[0].offset;
  const uint8_t* sequence = fields(sequence_at + 4, 8);
  if (!sequence) {
    return Fail("sequence header", static_cast<int64_t>(sequence_at),
                "the stream ends inside the sequence header");
  }
  int width = (sequence[0] << 4) | (sequence[1] >> 4);
  int height = ((sequence[1] & 0x0F) << 8) | sequence[2];

  // The sequence extension follows at once: without it the stream is MPEG-1.
  const uint8_t* extension = codes.size() > 1 && codes[1].value == kExtensionStartCode
                                 ? fields(codes[1].offset + 4, 3)
                                 : nullptr;
  if (!extension || (extension[0] >> 4) != kSequenceExtensionId) {
    return Fail("sequence extension",
                static_cast<int64_t>(codes.size() > 1 ? codes[1].offset : size),
                "the sequence header is not followed by a sequence extension (not an MPEG-2 "
                "video stream)");
  }
  const size_t extension_at = codes[1].offset;
  const int chroma_format = (extension[1] >> 1) & 3;
  width |= (((extension[1] & 1) << 1) | (extension[2] >> 7)) << 12;
  height |= ((extension[2] >> 5) & 3) << 12;
  if (width != kStillWidth || (height != 576 && height != 480)) {
    return Fail("picture size", static_cast<int64_t>(sequence_at + 4),
                "the still is " + std::to_string(width) + " x " + std::to_string(height) +
                    ", not 720 x 576 or 720 x 480");
  }
  if (chroma_format != kChromaFormat420) {
    return Fail(
        "chroma format", static_cast<int64_t>(extension_at + 5),
        std::string("the still is coded in ") + ChromaFormatName(chroma_format) + ", not 4:2:0");
  }

  // Exactly one picture.
  std::vector<size_t> pictures;
  for (const StartCode& code : codes) {
    if (code.value == kPictureStartCode) pictures.push_back(code.offset);
  }
  if (pictures.empty()) return Fail("picture", -1, "the stream holds no picture");
  if (pictures.size() > 1) {
    return Fail("picture", static_cast<int64_t>(pictures[1]),
                "the stream holds " + std::to_string(pictures.size()) + " pictures, not one");
  }
  const size_t picture_at = pictures[0];
  const uint8_t* picture = fields(picture_at + 4, 2);
  if (!picture) {
    return Fail("picture header", static_cast<int64_t>(picture_at),
                "the stream ends inside the picture header");
  }
  const int coding_type = (picture[1] >> 3) & 7;
  if (coding_type != kIntraCoded) {
    return Fail(
        "picture coding type", static_cast<int64_t>(picture_at + 5),
        std::string("the picture is ") + CodingTypeName(coding_type) + ", not intra-coded (I)");
  }

  // The picture coding extension follows the picture header at once, and codes a frame.
  const auto after_picture = std::find_if(
      codes.begin(), codes.end(), [&](const StartCode& code) { return code.offset > picture_at; });
  const uint8_t* coding =
      after_picture != codes.end() && after_picture->value == kExtensionStartCode
          ? fields(after_picture->offset + 4, 3)
          : nullptr;
  if (!coding || (coding[0] >> 4) != kPictureCodingExtensionId) {
    return Fail("picture coding extension",
                static_cast<int64_t>(after_picture != codes.end() ? after_picture->offset : size),
                "the picture header is not followed by a picture coding extension");
  }
  if ((coding[2] & 3) != kFramePicture) {
    return Fail("picture structure", static_cast<int64_t>(after_picture->offset + 6),
                "the picture is coded as a field, not as a frame");
  }

  // The sequence end code, as the stream's last four bytes and nowhere before.
  for (const StartCode& code : codes) {
    if (code.value == kSequenceEndCode && code.offset + 4 != size) {
      return Fail("sequence end code", static_cast<int64_t>(code.offset),
                  "the sequence ends before the end of the stream");
    }
  }
  if (codes.back().value != kSequenceEndCode || codes.back().offset + 4 != size) {
    return Fail("sequence end code", static_cast<int64_t>(size),
                "the stream does not end with the sequence end code");
  }
  if (picture_at > codes.back().offset) {
    return Fail("picture", static_cast<int64_t>(picture_at),
                "the picture lies after the sequence end code");
  }
  return StillLayout{width, height, picture_at};
}

// libmpeg2 picks its inner loops for the processor once per process; the first decoder
// made does it, so the first one is made under a lock.
mpeg2dec_t* NewDecoder() {
  static std::once_flag accelerations;
  std::call_once(accelerations, [] { mpeg2_accel(MPEG2_ACCEL_DETECT); });
  mpeg2dec_t* decoder = mpeg2_init();
  if (!decoder) throw std::bad_alloc();
  return decoder;
}

class Decoder {
 public:
  Decoder() : handle_(NewDecoder()) {}
  ~Decoder() { mpeg2_close(handle_); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  mpeg2dec_t* get() const { return handle_; }

 private:
  mpeg2dec_t* handle_;
};

// A frame buffer handed to the decoder: three planes, each 16-byte aligned as libmpeg2
// requires, filled with one value before decoding.
class FrameBuffer {
 public:
  void Allocate(const mpeg2_sequence_t& sequence, uint8_t fill) {
    const size_t sizes[3] = {size_t{sequence.width} * sequence.height,
                             size_t{sequence.chroma_width} * sequence.chroma_height,
                             size_t{sequence.chroma_width} * sequence.chroma_height};
    for (int i = 0; i < 3; ++i) {
      storage_[i].assign(sizes[i] + 15, fill);
      const uintptr_t start = reinterpret_cast<uintptr_t>(storage_[i].data());
      planes_[i] = storage_[i].data() + ((16 - start % 16) % 16);
      sizes_[i] = sizes[i];
    }
  }
  uint8_t** planes() { return planes_.data(); }
  std::span<const uint8_t> Plane(int index) const {
    return {planes_[static_cast<size_t>(index)], sizes_[static_cast<size_t>(index)]};
  }

 private:
  std::array<std::vector<uint8_t>, 3> storage_;
  std::array<uint8_t*, 3> planes_ = {};
  std::array<size_t, 3> sizes_ = {};
};

// The decoded frame: Y', Cb and Cr planes, and the matrix that turns them into R'G'B'.
struct DecodedFrame {
  std::vector<uint8_t> y;
  std::vector<uint8_t> cb;
  std::vector<uint8_t> cr;
  bool colour_description = false;
  int matrix_coefficients = 0;
};

// One run of libmpeg2 over the whole stream, into frame buffers filled with `fill`.
Result<DecodedFrame> DecodeOnce(std::vector<uint8_t>& stream, const StillLayout& layout,
                                size_t start_codes, uint8_t fill) {
  Decoder decoder;
  const mpeg2_info_t* info = mpeg2_info(decoder.get());
  mpeg2_buffer(decoder.get(), stream.data(), stream.data() + stream.size());
  std::array<FrameBuffer, 3> frames;
  bool buffers_given = false;
  int pictures = 0;
  // Every state the decoder reports comes with a start code; more reports than start codes
  // would mean the decoder goes round in circles.
  for (size_t report = 0; report <= start_codes + 2; ++report) {
    const mpeg2_state_t state = mpeg2_parse(decoder.get());
    const int64_t at =
        static_cast<int64_t>(stream.size()) - static_cast<int64_t>(mpeg2_getpos(decoder.get()));
    switch (state) {
      case STATE_BUFFER:
        return Fail("stream", at, "the stream ends before the decoder has finished its picture");
      case STATE_SEQUENCE: {
        const mpeg2_sequence_t& sequence = *info->sequence;
        if (static_cast<int>(sequence.picture_width) != layout.width ||
            static_cast<int>(sequence.picture_height) != layout.height ||
            sequence.width != sequence.picture_width ||
            sequence.height != sequence.picture_height ||
            sequence.chroma_width * 2 != sequence.width ||
            sequence.chroma_height * 2 != sequence.height) {
          return Fail("sequence header", at,
                      "the decoder reads the sequence as " + std::to_string(sequence.width) +
                          " x " + std::to_string(sequence.height) + ", not as its headers say");
        }
        if (buffers_given) break;
        // Two frames for the references the decoder keeps, a third for the picture.
        mpeg2_custom_fbuf(decoder.get(), 1);
        for (FrameBuffer& frame : frames)
          frame.Allocate(sequence, fill);
        for (int i = 0; i < 2; ++i)
          mpeg2_set_buf(decoder.get(), frames[static_cast<size_t>(i)].planes(), &frames[i]);
        buffers_given = true;
        break;
      }
      case STATE_SEQUENCE_REPEATED:
      case STATE_GOP:
      case STATE_SLICE:
        break;
      case STATE_SEQUENCE_MODIFIED:
        return Fail("sequence header", at, "a second sequence header changes the sequence");
      case STATE_PICTURE:
        if (++pictures > 1 || !buffers_given) {
          return Fail("picture", at, "the decoder finds more than the one picture");
        }
        if ((info->current_picture->flags & PIC_MASK_CODING_TYPE) != PIC_FLAG_CODING_TYPE_I) {
          return Fail("picture coding type", at,
                      "the decoder finds a picture that is not intra-coded (I)");
        }
        mpeg2_set_buf(decoder.get(), frames[2].planes(), &frames[2]);
        break;
      case STATE_SLICE_1ST:
      case STATE_PICTURE_2ND:
        return Fail("picture structure", at, "the decoder finds a picture coded as two fields");
      case STATE_END: {
        if (!info->display_fbuf || info->display_fbuf->id != &frames[2] || pictures != 1) {
          return Fail("picture", at, "the decoder gives no picture at the end of the sequence");
        }
        const std::span<const uint8_t> y = frames[2].Plane(0);
        const std::span<const uint8_t> cb = frames[2].Plane(1);
        const std::span<const uint8_t> cr = frames[2].Plane(2);
        return DecodedFrame{{y.begin(), y.end()},
                            {cb.begin(), cb.end()},
                            {cr.begin(), cr.end()},
                            (info->sequence->flags & SEQ_FLAG_COLOUR_DESCRIPTION) != 0,
                            info->sequence->matrix_coefficients};
      }
      case STATE_INVALID:
      case STATE_INVALID_END:
        return Fail("stream", at, "the decoder cannot read the stream before byte " + Hex(at));
    }
  }
  return Fail("stream", -1, "the decoder does not come to the end of the stream");
}

// Where the two decodes differ: the first macroblock the slices left undecoded, and the slice
// that should have coded it.
Error UndecodedMacroblock(const DecodedFrame& first, const DecodedFrame& second,
                          const StillLayout& layout, const std::vector<StartCode>& codes) {
  // A macroblock holds 16 x 16 luma samples and 8 x 8 of each chroma.
  int row = 0;
  int column = 0;
  const auto luma = std::mismatch(first.y.begin(), first.y.end(), second.y.begin());
  if (luma.first != first.y.end()) {
    const auto at = static_cast<size_t>(luma.first - first.y.begin());
    row = static_cast<int>(at / kStillWidth) / 16;
    column = static_cast<int>(at % kStillWidth) / 16;
  } else {
    auto chroma = std::mismatch(first.cb.begin(), first.cb.end(), second.cb.begin());
    auto at = static_cast<size_t>(chroma.first - first.cb.begin());
    if (chroma.first == first.cb.end()) {
      chroma = std::mismatch(first.cr.begin(), first.cr.end(), second.cr.begin());
      at = static_cast<size_t>(chroma.first - first.cr.begin());
    }
    row = static_cast<int>(at / (kStillWidth / 2)) / 8;
    column = static_cast<int>(at % (kStillWidth / 2)) / 8;
  }
  const std::string where = "macroblock " + std::to_string(column) + " of macroblock row " +
                            std::to_string(row) + " is not decoded";
  // The slices of a row carry its number, counted from 1, as their start code's value.
  for (const StartCode& code : codes) {
    if (code.offset > layout.picture_offset && code.value == row + 1) {
      return Error{"slice", static_cast<int64_t>(code.offset),
                   where + ": the decoder cannot read the row's slice whole"};
    }
  }
  return Error{"slice", -1, where + ": no slice codes that row"};
}

// R'G'B' from studio-range Y'CbCr (ITU-R BT.601 levels: Y' 16 to 235, Cb and Cr 16 to 240
// around 128) with the luma weights Kr and Kb, in 16-bit fixed point: per sample value, its
// share of each colour.
class ColourMatrix {
 public:
  ColourMatrix(double kr, double kb) {
    const double kg = 1 - kr - kb;
    constexpr double kOne = 65536;
    for (int value = 0; value < 256; ++value) {
      const double luma = (value - 16) * 255.0 / 219.0;
      const double difference = (value - 128) * 255.0 / 224.0;
      luma_[value] = static_cast<int32_t>(std::lround(luma * kOne)) + 32768;  // rounds
      red_cr_[value] = static_cast<int32_t>(std::lround(2 * (1 - kr) * difference * kOne));
      blue_cb_[value] = static_cast<int32_t>(std::lround(2 * (1 - kb) * difference * kOne));
      green_cb_[value] =
          static_cast<int32_t>(std::lround(-2 * (1 - kb) * kb / kg * difference * kOne));
      green_cr_[value] =
          static_cast<int32_t>(std::lround(-2 * (1 - kr) * kr / kg * difference * kOne));
    }
  }

  // Writes blue, green and red.
  void Convert(uint8_t y, uint8_t cb, uint8_t cr, uint8_t* bgr) const {
    const int32_t luma = luma_[y];
    bgr[0] = Clip(luma + blue_cb_[cb]);
    bgr[1] = Clip(luma + green_cb_[cb] + green_cr_[cr]);
    bgr[2] = Clip(luma + red_cr_[cr]);
  }

 private:
  static uint8_t Clip(int32_t value) {
    return static_cast<uint8_t>(std::clamp(value >> 16, 0, 255));
  }

  std::array<int32_t, 256> luma_;
  std::array<int32_t, 256> red_cr_;
  std::array<int32_t, 256> blue_cb_;
  std::array<int32_t, 256> green_cb_;
  std::array<int32_t, 256> green_cr_;
};

// The matrix that matrix_coefficients names (ISO/IEC 13818-2, 6.3.6); a stream that names
// none, or one without a colour description, is taken as ITU-R BT.601, as the common decoders
// take MPEG-2 video.
ColourMatrix MatrixOf(const DecodedFrame& frame) {
  if (frame.colour_description) {
    switch (frame.matrix_coefficients) {
      case 1:
        return ColourMatrix(0.2126, 0.0722);  // ITU-R BT.709
      case 4:
        return ColourMatrix(0.30, 0.11);  // FCC
      case 7:
        return ColourMatrix(0.212, 0.087);  // SMPTE 240M
      default:
        break;
    }
  }
  return ColourMatrix(0.299, 0.114);  // ITU-R BT.601 (codes 5 and 6)
}

// The 24-bit picture: each chroma sample serves the 2 x 2 luma samples it covers.
Bitmap ToBitmap(const DecodedFrame& frame, const StillLayout& layout) {
  const ColourMatrix matrix = MatrixOf(frame);
  Bitmap picture = MakeBitmap24(layout.width, layout.height);
  const size_t chroma_width = static_cast<size_t>(layout.width) / 2;
  for (int32_t y = 0; y < layout.height; ++y) {
    uint8_t* row = picture.Row(y);
    const uint8_t* luma = frame.y.data() + static_cast<size_t>(y) * layout.width;
    const uint8_t* cb = frame.cb.data() + static_cast<size_t>(y / 2) * chroma_width;
    const uint8_t* cr = frame.cr.data() + static_cast<size_t>(y / 2) * chroma_width;
    for (int32_t x = 0; x < layout.width; ++x)
      matrix.Convert(luma[x], cb[x / 2], cr[x / 2], row + 3 * static_cast<size_t>(x));
  }
  return picture;
}

}  // namespace

Result<Bitmap> DecodeStill(std::span<const uint8_t> stream) {
  const std::vector<StartCode> codes = FindStartCodes(stream);
  Result<StillLayout> layout = CheckStructure(stream, codes);
  if (!layout) return tl::unexpected(layout.error());

  // libmpeg2 reads only the bytes between the two pointers it is given, but takes them as
  // writable: it gets a copy of its own.
  std::vector<uint8_t> copy(stream.begin(), stream.end());
  Result<DecodedFrame> first = DecodeOnce(copy, *layout, codes.size(), 0x00);
  if (!first) return tl::unexpected(first.error());
  Result<DecodedFrame> second = DecodeOnce(copy, *layout, codes.size(), 0xFF);
  if (!second) return tl::unexpected(second.error());
  if (first->y != second->y || first->cb != second->cb || first->cr != second->cr)
    return tl::unexpected(UndecodedMacroblock(*first, *second, *layout, codes));
  return ToBitmap(*first, *layout);
}

}  // namespace qv
