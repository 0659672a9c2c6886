#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "formatswitch/bit_writer.h"
#include "formatswitch/parameter_file.h"

// The headers of an ISO/IEC 13818-2 stream holding one intra-coded frame picture, each
// written field by field in the order of the standard's syntax tables.
namespace qv::formatswitch {

using QuantiserMatrix = std::array<uint8_t, 64>;  // raster order

// Start code values (the byte after the 0x000001 prefix).
inline constexpr uint8_t kPictureStartCode = 0x00;
inline constexpr uint8_t kSequenceHeaderCode = 0xB3;
inline constexpr uint8_t kExtensionStartCode = 0xB5;
inline constexpr uint8_t kSequenceEndCode = 0xB7;
inline constexpr uint8_t kGroupStartCode = 0xB8;

// bit_rate in units of 400 bit/s, rounded up, as the 30-bit value the two fields carry.
uint32_t BitRateValue(double bits_per_second);

// sequence_header() with the matrices to load (none: the defaults), then
// sequence_extension() and sequence_display_extension().
void WriteSequenceHeaders(BitWriter& out, const EncoderParameters& parameters,
                          uint32_t bit_rate_value, const std::optional<QuantiserMatrix>& intra,
                          const std::optional<QuantiserMatrix>& non_intra);

// group_of_pictures_header() with the time code of the first frame; closed, not broken.
void WriteGroupOfPicturesHeader(BitWriter& out, const TimeCode& time_code);

// picture_header() of an I picture (temporal_reference 0, vbv_delay 0xFFFF) and
// picture_coding_extension() with the I-picture values of the parameter file.
void WritePictureHeaders(BitWriter& out, const EncoderParameters& parameters);

// slice() header for macroblock row `row` (0-based) with its quantiser_scale_code.
void WriteSliceHeader(BitWriter& out, int row, int quantiser_scale_code);
inline constexpr int kSliceHeaderBits = 32 + 5 + 1;

void WriteSequenceEnd(BitWriter& out);

}  // namespace qv::formatswitch
