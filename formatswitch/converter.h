#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "formatswitch/parameter_file.h"
#include "formatswitch/stream_headers.h"
#include "platform/result.h"

// The still converter's contract: "formatswitch -c <name>.bmp" turns a 24-bit 720 x 576 or
// 720 x 480 bitmap into <name>.m2v, one intra-coded MPEG-2 picture of at most 30,592 bytes.
namespace qv::formatswitch {

inline constexpr int64_t kOutputBudget = 30720 - 128;  // bytes
inline constexpr int64_t kBudgetStep = 2048;           // bytes

// The path of `name` in `directory`, matched without regard to letter case when no entry has
// exactly that name (the tool's names differ in case from the files: "Radio.bmp",
// "pal.par"). Nothing when no entry matches.
std::optional<std::string> FindIgnoringCase(const std::string& directory, const std::string& name);

// Reads a quantiser matrix file: 64 whole numbers from 1 to 255 in raster order, separated by
// white space. Fails when the file cannot be read (the "file", with the file system's text) or
// is malformed (a "matrix value", at the byte offset where the value at fault begins, or the
// file's size when the file ends before the 64th).
[[nodiscard]] Result<QuantiserMatrix> ReadQuantiserMatrix(const std::string& path);

// A picture encoded as a still, and the name the still has beside the picture.
struct EncodedPicture {
  std::vector<uint8_t> still;
  std::string default_output;  // <name>.m2v in the picture's directory
};

// Finds, loads and encodes one picture as ConvertPicture does, without writing the still.
// Nothing when the picture or its parameter file is refused (the reason on `messages`).
std::optional<EncodedPicture> EncodePicture(const std::string& name,
                                            const std::string& program_directory,
                                            std::ostream& messages);

// Converts one picture named as on the command line. Names without a leading '/' are taken
// relative to `program_directory`, or to the current directory when the picture is not there.
// The parameter file comes from `program_directory` (PAL.par for 576 rows, NTSC.par for 480,
// in any letter case); when it holds none, the built-in one of the same content. The still is
// written to `output_path` when given, otherwise as <name>.m2v beside the picture. Reports on
// `messages`; returns true when the still was written.
bool ConvertPicture(const std::string& name, const std::string& program_directory,
                    std::ostream& messages,
                    const std::optional<std::string>& output_path = std::nullopt);

// The whole program: arguments without the program name ("-c PICTURE...", or one picture with
// "-o OUT" before or after it). Returns the exit status: 0 when every named picture was
// converted, 1 when one was not, 2 for a command line it does not understand.
int RunFormatSwitch(const std::vector<std::string>& arguments, const std::string& program_directory,
                    std::ostream& messages);

}  // namespace qv::formatswitch
