#include "formatswitch/stream_headers.h"

#include <cmath>

#include "formatswitch/vlc_tables.h"

namespace qv::formatswitch {

namespace {

constexpr int kSequenceExtensionId = 1;
constexpr int kSequenceDisplayExtensionId = 2;
constexpr int kPictureCodingExtensionId = 8;
constexpr int kIntraPictureCodingType = 1;
constexpr int kFramePicture = 3;  // picture_structure

void PutMarker(BitWriter& out) {
  out.Put(1, 1);
}

void PutMatrix(BitWriter& out, const std::optional<QuantiserMatrix>& matrix) {
  out.Put(matrix ? 1 : 0, 1);
  if (!matrix) return;
  // Downloaded matrices always follow the zigzag scan.
  for (uint8_t raster : ScanOrder(0))
    out.Put((*matrix)[raster], 8);
}

}  // namespace

uint32_t BitRateValue(double bits_per_second) {
  double units = std::ceil(bits_per_second / 400.0);
  if (units < 1) return 1;
  if (units > (1 << 30) - 1) return (1 << 30) - 1;
  return static_cast<uint32_t>(units);
}

void WriteSequenceHeaders(BitWriter& out, const EncoderParameters& p, uint32_t bit_rate_value,
                          const std::optional<QuantiserMatrix>& intra,
                          const std::optional<QuantiserMatrix>& non_intra) {
  const uint32_t width = static_cast<uint32_t>(p.horizontal_size);
  const uint32_t height = static_cast<uint32_t>(p.vertical_size);
  const uint32_t vbv = static_cast<uint32_t>(p.vbv_buffer_size);

  out.StartCode(kSequenceHeaderCode);
  out.Put(width & 0xFFF, 12);   // horizontal_size_value
  out.Put(height & 0xFFF, 12);  // vertical_size_value
  out.Put(static_cast<uint32_t>(p.aspect_ratio_information), 4);
  out.Put(static_cast<uint32_t>(p.frame_rate_code), 4);
  out.Put(bit_rate_value & 0x3FFFF, 18);  // bit_rate_value
  PutMarker(out);
  out.Put(vbv & 0x3FF, 10);  // vbv_buffer_size_value
  out.Put(static_cast<uint32_t>(p.constrained_parameters_flag), 1);
  PutMatrix(out, intra);      // load_intra_quantiser_matrix
  PutMatrix(out, non_intra);  // load_non_intra_quantiser_matrix

  out.StartCode(kExtensionStartCode);
  out.Put(kSequenceExtensionId, 4);
  out.Put(static_cast<uint32_t>(p.profile), 4);  // profile_and_level_indication: escape
  out.Put(static_cast<uint32_t>(p.level), 4);    // bit 0, then profile (3 bits) and level
  out.Put(static_cast<uint32_t>(p.progressive_sequence), 1);
  out.Put(static_cast<uint32_t>(p.chroma_format), 2);
  out.Put(width >> 12, 2);            // horizontal_size_extension
  out.Put(height >> 12, 2);           // vertical_size_extension
  out.Put(bit_rate_value >> 18, 12);  // bit_rate_extension
  PutMarker(out);
  out.Put(vbv >> 10, 8);  // vbv_buffer_size_extension
  out.Put(static_cast<uint32_t>(p.low_delay), 1);
  out.Put(0, 2);  // frame_rate_extension_n
  out.Put(0, 5);  // frame_rate_extension_d

  out.StartCode(kExtensionStartCode);
  out.Put(kSequenceDisplayExtensionId, 4);
  out.Put(static_cast<uint32_t>(p.video_format), 3);
  out.Put(1, 1);  // colour_description
  out.Put(static_cast<uint32_t>(p.colour_primaries), 8);
  out.Put(static_cast<uint32_t>(p.transfer_characteristics), 8);
  out.Put(static_cast<uint32_t>(p.matrix_coefficients), 8);
  out.Put(static_cast<uint32_t>(p.display_horizontal_size), 14);
  PutMarker(out);
  out.Put(static_cast<uint32_t>(p.display_vertical_size), 14);
}

void WriteGroupOfPicturesHeader(BitWriter& out, const TimeCode& t) {
  out.StartCode(kGroupStartCode);
  out.Put(0, 1);  // drop_frame_flag
  out.Put(static_cast<uint32_t>(t.hours), 5);
  out.Put(static_cast<uint32_t>(t.minutes), 6);
  PutMarker(out);
  out.Put(static_cast<uint32_t>(t.seconds), 6);
  out.Put(static_cast<uint32_t>(t.pictures), 6);
  out.Put(1, 1);  // closed_gop: the one picture needs no other
  out.Put(0, 1);  // broken_link
}

void WritePictureHeaders(BitWriter& out, const EncoderParameters& p) {
  out.StartCode(kPictureStartCode);
  out.Put(0, 10);  // temporal_reference
  out.Put(kIntraPictureCodingType, 3);
  out.Put(0xFFFF, 16);  // vbv_delay: not given
  out.Put(0, 1);        // extra_bit_picture

  out.StartCode(kExtensionStartCode);
  out.Put(kPictureCodingExtensionId, 4);
  // f_code[s][t]: 15 ("not used") in an I picture unless concealment motion vectors are
  // sent, which then use the forward f_codes.
  bool concealment = p.concealment_motion_vectors[0] != 0;
  out.Put(concealment ? static_cast<uint32_t>(p.motion[0].horizontal_f_code) : 15, 4);
  out.Put(concealment ? static_cast<uint32_t>(p.motion[0].vertical_f_code) : 15, 4);
  out.Put(15, 4);
  out.Put(15, 4);
  out.Put(static_cast<uint32_t>(p.intra_dc_precision), 2);
  out.Put(kFramePicture, 2);
  out.Put(static_cast<uint32_t>(p.top_field_first), 1);
  out.Put(static_cast<uint32_t>(p.frame_pred_frame_dct[0]), 1);
  out.Put(concealment ? 1 : 0, 1);
  out.Put(static_cast<uint32_t>(p.q_scale_type[0]), 1);
  out.Put(static_cast<uint32_t>(p.intra_vlc_format[0]), 1);
  out.Put(static_cast<uint32_t>(p.alternate_scan[0]), 1);
  out.Put(static_cast<uint32_t>(p.repeat_first_field), 1);
  out.Put(static_cast<uint32_t>(p.progressive_frame), 1);  // chroma_420_type
  out.Put(static_cast<uint32_t>(p.progressive_frame), 1);
  out.Put(0, 1);  // composite_display_flag
}

void WriteSliceHeader(BitWriter& out, int row, int quantiser_scale_code) {
  out.StartCode(static_cast<uint8_t>(row + 1));  // slice_vertical_position
  out.Put(static_cast<uint32_t>(quantiser_scale_code), 5);
  out.Put(0, 1);  // extra_bit_slice
}

void WriteSequenceEnd(BitWriter& out) {
  out.StartCode(kSequenceEndCode);
}

}  // namespace qv::formatswitch
