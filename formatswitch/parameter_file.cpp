#include "formatswitch/parameter_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace qv::formatswitch {

namespace {

constexpr int kLineCount = 55;

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    std::string_view line =
        text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return lines;
}

// The parameter each line holds, by line number from 1: the member of EncoderParameters that
// takes the line's value or values, as an error names it.
constexpr std::array<std::string_view, kLineCount> kLineParameters = {
    "title",
    "source_name",
    "reconstructed_name",
    "intra_matrix_file",
    "non_intra_matrix_file",
    "statistics_file",
    "input_format",
    "frame_count",
    "first_frame",
    "time_code",
    "frames_in_gop",
    "ip_distance",
    "mpeg1",
    "field_pictures",
    "horizontal_size",
    "vertical_size",
    "aspect_ratio_information",
    "frame_rate_code",
    "bit_rate",
    "vbv_buffer_size",
    "low_delay",
    "constrained_parameters_flag",
    "profile",
    "level",
    "progressive_sequence",
    "chroma_format",
    "video_format",
    "colour_primaries",
    "transfer_characteristics",
    "matrix_coefficients",
    "display_horizontal_size",
    "display_vertical_size",
    "intra_dc_precision",
    "top_field_first",
    "frame_pred_frame_dct",
    "concealment_motion_vectors",
    "q_scale_type",
    "intra_vlc_format",
    "alternate_scan",
    "repeat_first_field",
    "progressive_frame",
    "intra_slice_refresh",
    "rate_control[0]",
    "rate_control[1]",
    "rate_control[2]",
    "rate_control[3]",
    "rate_control[4]",
    "rate_control[5]",
    "rate_control[6]",
    "rate_control[7]",
    "motion[0]",
    "motion[1]",
    "motion[2]",
    "motion[3]",
    "motion[4]",
};

std::string LineParameter(int number) {
  return std::string(kLineParameters[static_cast<size_t>(number - 1)]);
}

// Reads the values of a parameter file, line by line: the whitespace-separated tokens at the
// start of each line. The first value found missing or malformed is kept as the error, naming
// its line; every read after it gives a default value and looks at nothing, so a group of reads
// runs straight through and its outcome is looked at once, in error().
class ParameterReader {
 public:
  // `lines` holds at least kLineCount lines.
  explicit ParameterReader(const std::vector<std::string_view>& lines) : lines_(lines) {}

  // Moves to line `number` (counted from 1): the reads that follow take its values in turn.
  ParameterReader& Line(int number) {
    number_ = number;
    line_ = lines_[static_cast<size_t>(number - 1)];
    at_ = 0;
    return *this;
  }

  std::string Word() {
    if (error_) return {};
    SkipBlanks();
    size_t start = at_;
    while (at_ < line_.size() && line_[at_] != ' ' && line_[at_] != '\t')
      ++at_;
    if (at_ == start) {
      Expected("a value");
      return {};
    }
    return std::string(line_.substr(start, at_ - start));
  }

  int Integer() {
    std::string word = Word();
    if (error_) return 0;
    char* end = nullptr;
    long value = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || value < -1000000000 || value > 1000000000) {
      Expected("a whole number, not \"" + word + "\"");
      return 0;
    }
    return static_cast<int>(value);
  }

  double Real() {
    std::string word = Word();
    if (error_) return 0;
    char* end = nullptr;
    double value = std::strtod(word.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) {
      Expected("a number, not \"" + word + "\"");
      return 0;
    }
    return value;
  }

  // Four whole numbers joined by colons; their ranges are checked with the other values.
  TimeCode TimeCodeValue() {
    std::string word = Word();
    if (error_) return {};
    int fields[4];
    char tail = 0;
    if (std::sscanf(word.c_str(), "%d:%d:%d:%d%c", &fields[0], &fields[1], &fields[2], &fields[3],
                    &tail) != 4) {
      Expected("a time code hh:mm:ss:ff, not \"" + word + "\"");
      return {};
    }
    return {fields[0], fields[1], fields[2], fields[3]};
  }

  // The first value found missing or malformed, if any.
  const std::optional<Error>& error() const { return error_; }

 private:
  void Expected(const std::string& what) {
    error_ = Error{LineParameter(number_), number_,
                   "line " + std::to_string(number_) + ": expected " + what};
  }
  void SkipBlanks() {
    while (at_ < line_.size() && (line_[at_] == ' ' || line_[at_] == '\t'))
      ++at_;
  }

  const std::vector<std::string_view>& lines_;
  std::string_view line_;
  int number_ = 0;
  size_t at_ = 0;
  std::optional<Error> error_;
};

// Lines 2 to 10: the names of the files an encoder reads and writes, the input format, the
// frames to encode and the time code of the first.
void ReadNamesAndFrames(ParameterReader& reader, EncoderParameters& p) {
  p.source_name = reader.Line(2).Word();
  p.reconstructed_name = reader.Line(3).Word();
  p.intra_matrix_file = reader.Line(4).Word();
  p.non_intra_matrix_file = reader.Line(5).Word();
  p.statistics_file = reader.Line(6).Word();
  p.input_format = reader.Line(7).Integer();
  p.frame_count = reader.Line(8).Integer();
  p.first_frame = reader.Line(9).Integer();
  p.time_code = reader.Line(10).TimeCodeValue();
}

// Lines 11 to 34: the group of pictures, the sequence header and its extensions, and the
// picture's DC precision and field order.
void ReadSequenceValues(ParameterReader& reader, EncoderParameters& p) {
  int* const integers_11_to_18[] = {&p.frames_in_gop,
                                    &p.ip_distance,
                                    &p.mpeg1,
                                    &p.field_pictures,
                                    &p.horizontal_size,
                                    &p.vertical_size,
                                    &p.aspect_ratio_information,
                                    &p.frame_rate_code};
  for (int i = 0; i < 8; ++i) {
    *integers_11_to_18[i] = reader.Line(11 + i).Integer();
  }
  p.bit_rate = reader.Line(19).Real();
  int* const integers_20_to_34[] = {&p.vbv_buffer_size,
                                    &p.low_delay,
                                    &p.constrained_parameters_flag,
                                    &p.profile,
                                    &p.level,
                                    &p.progressive_sequence,
                                    &p.chroma_format,
                                    &p.video_format,
                                    &p.colour_primaries,
                                    &p.transfer_characteristics,
                                    &p.matrix_coefficients,
                                    &p.display_horizontal_size,
                                    &p.display_vertical_size,
                                    &p.intra_dc_precision,
                                    &p.top_field_first};
  for (int i = 0; i < 15; ++i) {
    *integers_20_to_34[i] = reader.Line(20 + i).Integer();
  }
}

// Lines 35 to 42: the picture coding flags, three to a line (I, P, B pictures), then the
// repeated field, the progressive frame and the intra slice refresh.
void ReadPictureCodingValues(ParameterReader& reader, EncoderParameters& p) {
  std::array<int, 3>* const triples[] = {&p.frame_pred_frame_dct, &p.concealment_motion_vectors,
                                         &p.q_scale_type, &p.intra_vlc_format, &p.alternate_scan};
  for (int i = 0; i < 5; ++i) {
    reader.Line(35 + i);
    for (int& value : *triples[i])
      value = reader.Integer();
  }
  p.repeat_first_field = reader.Line(40).Integer();
  p.progressive_frame = reader.Line(41).Integer();
  p.intra_slice_refresh = reader.Line(42).Integer();
}

// Lines 43 to 55: the rate control values, then the motion settings of each prediction
// direction, four to a line.
void ReadRateControlAndMotion(ParameterReader& reader, EncoderParameters& p) {
  for (int i = 0; i < 8; ++i) {
    p.rate_control[static_cast<size_t>(i)] = reader.Line(43 + i).Real();
  }
  for (int i = 0; i < 5; ++i) {
    MotionSettings& m = p.motion[static_cast<size_t>(i)];
    reader.Line(51 + i);
    m.horizontal_f_code = reader.Integer();
    m.vertical_f_code = reader.Integer();
    m.search_width = reader.Integer();
    m.search_height = reader.Integer();
  }
}

// A value the still encoder cannot honour, named by the parameter of the line that holds it.
tl::unexpected<Error> Refused(int line, std::string text) {
  return Fail(LineParameter(line), line, std::move(text));
}

tl::unexpected<Error> OutOfRange(int line, const char* name, long value) {
  return Refused(line, std::string(name) + " " + std::to_string(value) + " is out of range");
}

bool IsFlag(int value) {
  return value == 0 || value == 1;
}

// What the still encoder makes: one 4:2:0 frame picture of ISO/IEC 13818-2.
Result<void> CheckStillStructure(const EncoderParameters& p) {
  if (p.mpeg1 != 0) return Refused(13, "ISO/IEC 11172-2 (MPEG-1) streams are not supported");
  if (p.chroma_format != 1) {
    return Refused(26, "chroma_format " + std::to_string(p.chroma_format) +
                           " is not supported (only 1, 4:2:0)");
  }
  if (p.field_pictures != 0) {
    return Refused(14, "field pictures are not supported (only frame pictures)");
  }
  if (p.frame_count != 1) {
    return Refused(8, "number of frames " + std::to_string(p.frame_count) +
                          " is not supported (a still is 1)");
  }
  return {};
}

// Lines 15 to 22: the sizes, aspect ratio and frame rate, the buffer size and the flags of
// the sequence header and extension.
Result<void> CheckSequenceHeaderValues(const EncoderParameters& p) {
  if (p.horizontal_size <= 0 || p.horizontal_size > 4095 || p.horizontal_size % 16 != 0) {
    return OutOfRange(15, "horizontal_size", p.horizontal_size);
  }
  if (p.vertical_size <= 0 || p.vertical_size > 2800 ||
      p.vertical_size % (p.progressive_sequence ? 16 : 32) != 0) {
    return OutOfRange(16, "vertical_size", p.vertical_size);
  }
  if (p.aspect_ratio_information < 1 || p.aspect_ratio_information > 15) {
    return OutOfRange(17, "aspect_ratio_information", p.aspect_ratio_information);
  }
  if (p.frame_rate_code < 1 || p.frame_rate_code > 8) {
    return OutOfRange(18, "frame_rate_code", p.frame_rate_code);
  }
  if (p.vbv_buffer_size < 1 || p.vbv_buffer_size >= (1 << 18)) {
    return OutOfRange(20, "vbv_buffer_size", p.vbv_buffer_size);
  }
  if (!IsFlag(p.low_delay)) return OutOfRange(21, "low_delay", p.low_delay);
  if (!IsFlag(p.constrained_parameters_flag)) {
    return OutOfRange(22, "constrained_parameters_flag", p.constrained_parameters_flag);
  }
  return {};
}

// Lines 23 to 32: profile and level, the scan of the sequence, and the sequence display
// extension.
Result<void> CheckSequenceExtensionValues(const EncoderParameters& p) {
  if (p.profile < 0 || p.profile > 7) return OutOfRange(23, "profile", p.profile);
  if (p.level < 0 || p.level > 15) return OutOfRange(24, "level", p.level);
  if (!IsFlag(p.progressive_sequence)) {
    return OutOfRange(25, "progressive_sequence", p.progressive_sequence);
  }
  if (p.video_format < 0 || p.video_format > 7) {
    return OutOfRange(27, "video_format", p.video_format);
  }
  if (p.colour_primaries < 0 || p.colour_primaries > 255) {
    return OutOfRange(28, "color_primaries", p.colour_primaries);
  }
  if (p.transfer_characteristics < 0 || p.transfer_characteristics > 255) {
    return OutOfRange(29, "transfer_characteristics", p.transfer_characteristics);
  }
  if (p.display_horizontal_size < 1 || p.display_horizontal_size > 16383) {
    return OutOfRange(31, "display_horizontal_size", p.display_horizontal_size);
  }
  if (p.display_vertical_size < 1 || p.display_vertical_size > 16383) {
    return OutOfRange(32, "display_vertical_size", p.display_vertical_size);
  }
  return {};
}

// Lines 33 to 41: the picture coding extension's values, each flag 0 or 1, and the
// combinations a progressive frame needs.
Result<void> CheckPictureCodingValues(const EncoderParameters& p) {
  if (p.intra_dc_precision < 0 || p.intra_dc_precision > 3) {
    return OutOfRange(33, "intra_dc_precision", p.intra_dc_precision);
  }
  if (!IsFlag(p.top_field_first)) return OutOfRange(34, "top_field_first", p.top_field_first);
  const char* triple_names[] = {"frame_pred_frame_dct", "concealment_motion_vectors",
                                "q_scale_type", "intra_vlc_format", "alternate_scan"};
  const std::array<int, 3>* triples[] = {&p.frame_pred_frame_dct, &p.concealment_motion_vectors,
                                         &p.q_scale_type, &p.intra_vlc_format, &p.alternate_scan};
  for (int i = 0; i < 5; ++i) {
    for (int value : *triples[i]) {
      if (!IsFlag(value)) return OutOfRange(35 + i, triple_names[i], value);
    }
  }
  if (!IsFlag(p.repeat_first_field)) {
    return OutOfRange(40, "repeat_first_field", p.repeat_first_field);
  }
  if (!IsFlag(p.progressive_frame)) {
    return OutOfRange(41, "progressive_frame", p.progressive_frame);
  }
  if (p.progressive_sequence && !p.progressive_frame) {
    return Refused(41, "progressive_frame must be 1 in a progressive sequence");
  }
  if (p.progressive_frame && !p.frame_pred_frame_dct[0]) {
    return Refused(35, "frame_pred_frame_dct must be 1 for a progressive frame");
  }
  return {};
}

// The time code of the group of pictures header, and the forward f_codes that concealment
// motion vectors are coded with.
Result<void> CheckTimeCodeAndConcealment(const EncoderParameters& p) {
  const TimeCode& t = p.time_code;
  if (t.hours < 0 || t.hours > 23 || t.minutes < 0 || t.minutes > 59 || t.seconds < 0 ||
      t.seconds > 59 || t.pictures < 0 || t.pictures > 59) {
    return Refused(10, "time code of the first frame is out of range");
  }
  const MotionSettings& forward = p.motion[0];
  if (p.concealment_motion_vectors[0] &&
      (forward.horizontal_f_code < 1 || forward.horizontal_f_code > 9 ||
       forward.vertical_f_code < 1 || forward.vertical_f_code > 9)) {
    return Refused(51, "concealment motion vectors need forward f_codes from 1 to 9");
  }
  return {};
}

}  // namespace

Result<EncoderParameters> ParseParameterFile(std::string_view text) {
  const std::vector<std::string_view> lines = SplitLines(text);
  if (lines.size() < kLineCount) {
    return Fail("line count", -1,
                "the file has " + std::to_string(lines.size()) + " lines, fewer than " +
                    std::to_string(kLineCount));
  }
  EncoderParameters p;
  p.title = std::string(lines[0]);
  ParameterReader reader(lines);
  ReadNamesAndFrames(reader, p);
  ReadSequenceValues(reader, p);
  ReadPictureCodingValues(reader, p);
  ReadRateControlAndMotion(reader, p);
  if (reader.error()) return tl::unexpected<Error>(*reader.error());
  return p;
}

Result<void> CheckEncoderParameters(const EncoderParameters& p) {
  // Group by group; the first value found wrong is the one named.
  for (auto check : {CheckStillStructure, CheckSequenceHeaderValues, CheckSequenceExtensionValues,
                     CheckPictureCodingValues, CheckTimeCodeAndConcealment}) {
    if (Result<void> checked = check(p); !checked) return checked;
  }
  return {};
}

}  // namespace qv::formatswitch
