#include "formatswitch/parameter_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
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

// Reads the whitespace-separated tokens at the start of one line.
class LineReader {
 public:
  LineReader(std::string_view line, int number) : line_(line), number_(number) {}

  bool Word(std::string& out, std::string& error) {
    SkipBlanks();
    size_t start = at_;
    while (at_ < line_.size() && line_[at_] != ' ' && line_[at_] != '\t')
      ++at_;
    if (at_ == start) return Fail("a value", error);
    out = std::string(line_.substr(start, at_ - start));
    return true;
  }

  bool Integer(int& out, std::string& error) {
    std::string word;
    if (!Word(word, error)) return false;
    char* end = nullptr;
    long value = std::strtol(word.c_str(), &end, 10);
    if (*end != '\0' || value < -1000000000 || value > 1000000000) {
      return Fail("a whole number, not \"" + word + "\"", error);
    }
    out = static_cast<int>(value);
    return true;
  }

  bool Real(double& out, std::string& error) {
    std::string word;
    if (!Word(word, error)) return false;
    char* end = nullptr;
    double value = std::strtod(word.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) return Fail("a number, not \"" + word + "\"", error);
    out = value;
    return true;
  }

  bool Fail(const std::string& what, std::string& error) const {
    error = "line " + std::to_string(number_) + ": expected " + what;
    return false;
  }

 private:
  void SkipBlanks() {
    while (at_ < line_.size() && (line_[at_] == ' ' || line_[at_] == '\t'))
      ++at_;
  }
  std::string_view line_;
  int number_;
  size_t at_ = 0;
};

bool ParseTimeCode(const std::string& text, TimeCode& out) {
  int fields[4];
  char tail = 0;
  if (std::sscanf(text.c_str(), "%d:%d:%d:%d%c", &fields[0], &fields[1], &fields[2], &fields[3],
                  &tail) != 4) {
    return false;
  }
  out = {fields[0], fields[1], fields[2], fields[3]};
  return true;
}

// The reader of line `number` (counted from 1).
LineReader LineAt(const std::vector<std::string_view>& lines, int number) {
  return LineReader(lines[static_cast<size_t>(number - 1)], number);
}

// Lines 2 to 10: the names of the files an encoder reads and writes, the input format, the
// frames to encode and the time code of the first.
bool ReadNamesAndFrames(const std::vector<std::string_view>& lines, EncoderParameters& p,
                        std::string& error) {
  std::string time_code;
  LineReader l2 = LineAt(lines, 2), l3 = LineAt(lines, 3), l4 = LineAt(lines, 4),
             l5 = LineAt(lines, 5), l6 = LineAt(lines, 6);
  LineReader l7 = LineAt(lines, 7), l8 = LineAt(lines, 8), l9 = LineAt(lines, 9),
             l10 = LineAt(lines, 10);
  if (!l2.Word(p.source_name, error) || !l3.Word(p.reconstructed_name, error) ||
      !l4.Word(p.intra_matrix_file, error) || !l5.Word(p.non_intra_matrix_file, error) ||
      !l6.Word(p.statistics_file, error) || !l7.Integer(p.input_format, error) ||
      !l8.Integer(p.frame_count, error) || !l9.Integer(p.first_frame, error) ||
      !l10.Word(time_code, error)) {
    return false;
  }
  if (!ParseTimeCode(time_code, p.time_code)) {
    return l10.Fail("a time code hh:mm:ss:ff, not \"" + time_code + "\"", error);
  }
  return true;
}

// Lines 11 to 34: the group of pictures, the sequence header and its extensions, and the
// picture's DC precision and field order.
bool ReadSequenceValues(const std::vector<std::string_view>& lines, EncoderParameters& p,
                        std::string& error) {
  int* const integers_11_to_18[] = {&p.frames_in_gop,
                                    &p.ip_distance,
                                    &p.mpeg1,
                                    &p.field_pictures,
                                    &p.horizontal_size,
                                    &p.vertical_size,
                                    &p.aspect_ratio_information,
                                    &p.frame_rate_code};
  for (int i = 0; i < 8; ++i) {
    if (!LineAt(lines, 11 + i).Integer(*integers_11_to_18[i], error)) return false;
  }
  if (!LineAt(lines, 19).Real(p.bit_rate, error)) return false;
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
    if (!LineAt(lines, 20 + i).Integer(*integers_20_to_34[i], error)) return false;
  }
  return true;
}

// Lines 35 to 42: the picture coding flags, three to a line (I, P, B pictures), then the
// repeated field, the progressive frame and the intra slice refresh.
bool ReadPictureCodingValues(const std::vector<std::string_view>& lines, EncoderParameters& p,
                             std::string& error) {
  std::array<int, 3>* const triples[] = {&p.frame_pred_frame_dct, &p.concealment_motion_vectors,
                                         &p.q_scale_type, &p.intra_vlc_format, &p.alternate_scan};
  for (int i = 0; i < 5; ++i) {
    LineReader reader = LineAt(lines, 35 + i);
    for (int& value : *triples[i]) {
      if (!reader.Integer(value, error)) return false;
    }
  }
  return LineAt(lines, 40).Integer(p.repeat_first_field, error) &&
         LineAt(lines, 41).Integer(p.progressive_frame, error) &&
         LineAt(lines, 42).Integer(p.intra_slice_refresh, error);
}

// Lines 43 to 55: the rate control values, then the motion settings of each prediction
// direction, four to a line.
bool ReadRateControlAndMotion(const std::vector<std::string_view>& lines, EncoderParameters& p,
                              std::string& error) {
  for (int i = 0; i < 8; ++i) {
    if (!LineAt(lines, 43 + i).Real(p.rate_control[static_cast<size_t>(i)], error)) return false;
  }
  for (int i = 0; i < 5; ++i) {
    LineReader reader = LineAt(lines, 51 + i);
    MotionSettings& m = p.motion[static_cast<size_t>(i)];
    if (!reader.Integer(m.horizontal_f_code, error) || !reader.Integer(m.vertical_f_code, error) ||
        !reader.Integer(m.search_width, error) || !reader.Integer(m.search_height, error)) {
      return false;
    }
  }
  return true;
}

std::string OutOfRange(const char* name, long value) {
  return std::string(name) + " " + std::to_string(value) + " is out of range";
}

bool IsFlag(int value) {
  return value == 0 || value == 1;
}

// What the still encoder makes: one 4:2:0 frame picture of ISO/IEC 13818-2.
std::string CheckStillStructure(const EncoderParameters& p) {
  if (p.mpeg1 != 0) return "ISO/IEC 11172-2 (MPEG-1) streams are not supported";
  if (p.chroma_format != 1) {
    return "chroma_format " + std::to_string(p.chroma_format) + " is not supported (only 1, 4:2:0)";
  }
  if (p.field_pictures != 0) return "field pictures are not supported (only frame pictures)";
  if (p.frame_count != 1) {
    return "number of frames " + std::to_string(p.frame_count) + " is not supported (a still is 1)";
  }
  return "";
}

// Lines 15 to 22: the sizes, aspect ratio and frame rate, the buffer size and the flags of
// the sequence header and extension.
std::string CheckSequenceHeaderValues(const EncoderParameters& p) {
  if (p.horizontal_size <= 0 || p.horizontal_size > 4095 || p.horizontal_size % 16 != 0) {
    return OutOfRange("horizontal_size", p.horizontal_size);
  }
  if (p.vertical_size <= 0 || p.vertical_size > 2800 ||
      p.vertical_size % (p.progressive_sequence ? 16 : 32) != 0) {
    return OutOfRange("vertical_size", p.vertical_size);
  }
  if (p.aspect_ratio_information < 1 || p.aspect_ratio_information > 15) {
    return OutOfRange("aspect_ratio_information", p.aspect_ratio_information);
  }
  if (p.frame_rate_code < 1 || p.frame_rate_code > 8) {
    return OutOfRange("frame_rate_code", p.frame_rate_code);
  }
  if (p.vbv_buffer_size < 1 || p.vbv_buffer_size >= (1 << 18)) {
    return OutOfRange("vbv_buffer_size", p.vbv_buffer_size);
  }
  if (!IsFlag(p.low_delay)) return OutOfRange("low_delay", p.low_delay);
  if (!IsFlag(p.constrained_parameters_flag)) {
    return OutOfRange("constrained_parameters_flag", p.constrained_parameters_flag);
  }
  return "";
}

// Lines 23 to 32: profile and level, the scan of the sequence, and the sequence display
// extension.
std::string CheckSequenceExtensionValues(const EncoderParameters& p) {
  if (p.profile < 0 || p.profile > 7) return OutOfRange("profile", p.profile);
  if (p.level < 0 || p.level > 15) return OutOfRange("level", p.level);
  if (!IsFlag(p.progressive_sequence)) {
    return OutOfRange("progressive_sequence", p.progressive_sequence);
  }
  if (p.video_format < 0 || p.video_format > 7) return OutOfRange("video_format", p.video_format);
  if (p.colour_primaries < 0 || p.colour_primaries > 255) {
    return OutOfRange("color_primaries", p.colour_primaries);
  }
  if (p.transfer_characteristics < 0 || p.transfer_characteristics > 255) {
    return OutOfRange("transfer_characteristics", p.transfer_characteristics);
  }
  if (p.display_horizontal_size < 1 || p.display_horizontal_size > 16383) {
    return OutOfRange("display_horizontal_size", p.display_horizontal_size);
  }
  if (p.display_vertical_size < 1 || p.display_vertical_size > 16383) {
    return OutOfRange("display_vertical_size", p.display_vertical_size);
  }
  return "";
}

// Lines 33 to 41: the picture coding extension's values, each flag 0 or 1, and the
// combinations a progressive frame needs.
std::string CheckPictureCodingValues(const EncoderParameters& p) {
  if (p.intra_dc_precision < 0 || p.intra_dc_precision > 3) {
    return OutOfRange("intra_dc_precision", p.intra_dc_precision);
  }
  if (!IsFlag(p.top_field_first)) return OutOfRange("top_field_first", p.top_field_first);
  const char* triple_names[] = {"frame_pred_frame_dct", "concealment_motion_vectors",
                                "q_scale_type", "intra_vlc_format", "alternate_scan"};
  const std::array<int, 3>* triples[] = {&p.frame_pred_frame_dct, &p.concealment_motion_vectors,
                                         &p.q_scale_type, &p.intra_vlc_format, &p.alternate_scan};
  for (int i = 0; i < 5; ++i) {
    for (int value : *triples[i]) {
      if (!IsFlag(value)) return OutOfRange(triple_names[i], value);
    }
  }
  if (!IsFlag(p.repeat_first_field)) return OutOfRange("repeat_first_field", p.repeat_first_field);
  if (!IsFlag(p.progressive_frame)) return OutOfRange("progressive_frame", p.progressive_frame);
  if (p.progressive_sequence && !p.progressive_frame) {
    return "progressive_frame must be 1 in a progressive sequence";
  }
  if (p.progressive_frame && !p.frame_pred_frame_dct[0]) {
    return "frame_pred_frame_dct must be 1 for a progressive frame";
  }
  return "";
}

// The time code of the group of pictures header, and the forward f_codes that concealment
// motion vectors are coded with.
std::string CheckTimeCodeAndConcealment(const EncoderParameters& p) {
  const TimeCode& t = p.time_code;
  if (t.hours < 0 || t.hours > 23 || t.minutes < 0 || t.minutes > 59 || t.seconds < 0 ||
      t.seconds > 59 || t.pictures < 0 || t.pictures > 59) {
    return "time code of the first frame is out of range";
  }
  const MotionSettings& forward = p.motion[0];
  if (p.concealment_motion_vectors[0] &&
      (forward.horizontal_f_code < 1 || forward.horizontal_f_code > 9 ||
       forward.vertical_f_code < 1 || forward.vertical_f_code > 9)) {
    return "concealment motion vectors need forward f_codes from 1 to 9";
  }
  return "";
}

}  // namespace

bool ParseParameterFile(std::string_view text, EncoderParameters& p, std::string& error) {
  std::vector<std::string_view> lines = SplitLines(text);
  if (lines.size() < kLineCount) {
    error = "the file has " + std::to_string(lines.size()) + " lines, fewer than " +
            std::to_string(kLineCount);
    return false;
  }
  p.title = std::string(lines[0]);
  return ReadNamesAndFrames(lines, p, error) && ReadSequenceValues(lines, p, error) &&
         ReadPictureCodingValues(lines, p, error) && ReadRateControlAndMotion(lines, p, error);
}

std::string CheckEncoderParameters(const EncoderParameters& p) {
  // Group by group; the first value found wrong is the one named.
  for (auto check : {CheckStillStructure, CheckSequenceHeaderValues, CheckSequenceExtensionValues,
                     CheckPictureCodingValues, CheckTimeCodeAndConcealment}) {
    std::string problem = check(p);
    if (!problem.empty()) return problem;
  }
  return "";
}

}  // namespace qv::formatswitch
