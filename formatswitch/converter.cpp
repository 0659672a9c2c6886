#include "formatswitch/converter.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "formatswitch/still_encoder.h"
#include "formatswitch/ycbcr_picture.h"
#include "platform/bitmap.h"
#include "platform/file.h"
#include "platform/io_error.h"
#include "platform/pending_file.h"
#include "workfiles/parameter_files.h"

namespace qv::formatswitch {

namespace {

constexpr int kStillWidth = 720;
constexpr int kPalHeight = 576;
constexpr int kNtscHeight = 480;

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string JoinPath(const std::string& directory, const std::string& name) {
  if (directory.empty()) return name;
  if (directory.back() == '/') return directory + name;
  return directory + "/" + name;
}

std::string ReadText(const std::string& path) {
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Reads the quantiser matrix files the parameter file names ("-" names the default matrix):
// a relative name from the program's directory, in whatever letter case.
bool LoadQuantiserMatrices(const std::string& program_directory, StillSettings& settings,
                           std::ostream& messages) {
  const EncoderParameters& p = settings.parameters;
  const std::pair<const std::string*, std::optional<QuantiserMatrix>*> matrices[] = {
      {&p.intra_matrix_file, &settings.intra_matrix},
      {&p.non_intra_matrix_file, &settings.non_intra_matrix}};
  for (const auto& [file, matrix] : matrices) {
    if (*file == "-") continue;
    std::string path = file->front() == '/' ? *file : JoinPath(program_directory, *file);
    if (file->front() != '/') {
      path = FindIgnoringCase(program_directory, *file).value_or(path);
    }
    Result<QuantiserMatrix> loaded = ReadQuantiserMatrix(path);
    if (!loaded) {
      messages << "Error: quantiser matrix file " << *file << ": " << loaded.error().text << "\n";
      return false;
    }
    *matrix = *loaded;
  }
  return true;
}

// Loads the parameter file for the picture's height from the program's directory, or the
// built-in one of the same content when the directory holds none, and applies the converter's
// own values.
bool LoadSettings(const std::string& program_directory, bool pal, const std::string& source_name,
                  StillSettings& settings, std::ostream& messages) {
  std::optional<std::string> par_path =
      FindIgnoringCase(program_directory, pal ? "pal.par" : "ntsc.par");
  std::string text;
  if (!par_path) {
    par_path = "built-in " + std::string(pal ? kPalParName : kNtscParName);
    text = pal ? kPalParContent : kNtscParContent;
  } else {
    try {
      text = ReadText(*par_path);
    } catch (const IoError& io) {
      messages << "Error: cannot read " << *par_path << ": " << io.what() << "\n";
      return false;
    }
  }
  Result<EncoderParameters> parsed = ParseParameterFile(text);
  if (!parsed) {
    messages << "Error: " << *par_path << ": " << parsed.error().text << "\n";
    return false;
  }
  EncoderParameters& p = settings.parameters;
  p = *std::move(parsed);
  p.source_name = source_name;
  Result<void> checked = CheckEncoderParameters(p);
  double kr, kb;
  if (checked && !MatrixWeights(p.matrix_coefficients, kr, kb)) {
    checked =
        Fail("matrix_coefficients", 30,  // the parameter file's line 30
             "matrix_coefficients " + std::to_string(p.matrix_coefficients) + " is not supported");
  }
  if (!checked) {
    messages << "Error: " << *par_path << ": " << checked.error().text << "\n";
    return false;
  }
  return LoadQuantiserMatrices(program_directory, settings, messages);
}

}  // namespace

std::optional<std::string> FindIgnoringCase(const std::string& directory, const std::string& name) {
  std::string exact = JoinPath(directory, name);
  if (FileExists(exact)) return exact;
  std::error_code error;
  std::vector<std::string> matches;
  for (const auto& entry :
       std::filesystem::directory_iterator(directory.empty() ? "." : directory, error)) {
    std::string entry_name = entry.path().filename().string();
    if (SameIgnoringCase(entry_name, name)) matches.push_back(entry_name);
  }
  if (matches.empty()) return std::nullopt;
  std::sort(matches.begin(), matches.end());  // the same choice every time
  return JoinPath(directory, matches.front());
}

Result<QuantiserMatrix> ReadQuantiserMatrix(const std::string& path) {
  std::string text;
  try {
    text = ReadText(path);
  } catch (const IoError& io) {
    return Fail("file", -1, io.what());
  }
  QuantiserMatrix matrix;
  std::istringstream in(text);
  for (int i = 0; i < 64; ++i) {
    // Where the value begins: past the white space before it, or the end of the file.
    in >> std::ws;
    const int64_t at =
        in.eof() ? static_cast<int64_t>(text.size()) : static_cast<int64_t>(in.tellg());
    long value = 0;
    if (!(in >> value)) {
      return Fail("matrix value", at, "expected 64 numbers, found " + std::to_string(i));
    }
    if (value < 1 || value > 255) {
      return Fail("matrix value", at, "value " + std::to_string(value) + " is outside 1 to 255");
    }
    matrix[static_cast<size_t>(i)] = static_cast<uint8_t>(value);
  }
  return matrix;
}

namespace {

// A picture named on the command line, found.
struct FoundPicture {
  std::string directory;  // where the still is written
  std::string path;
  std::string file_name;  // the name as the directory spells it
};

// Finds the bitmap `name` names, in whatever letter case: an absolute name as it stands, a
// relative one in the program's directory and, when it is not there, in the current directory
// (the tool puts the picture beside the program; a user runs the program on a picture of the
// directory they work in).
std::optional<FoundPicture> FindPicture(const std::string& name,
                                        const std::string& program_directory,
                                        std::ostream& messages) {
  if (name.size() < 3 || !SameIgnoringCase(std::string_view(name).substr(name.size() - 3), "bmp")) {
    messages << "Error: " << name << " is not a bitmap (*.bmp) name\n";
    return std::nullopt;
  }
  std::filesystem::path named(name);
  std::vector<std::string> directories;
  if (named.is_absolute()) {
    directories = {named.parent_path().string()};
  } else {
    directories = {JoinPath(program_directory, named.parent_path().string()),
                   named.parent_path().string()};
  }
  for (const std::string& directory : directories) {
    std::optional<std::string> found = FindIgnoringCase(directory, named.filename().string());
    if (found)
      return FoundPicture{directory, *found, std::filesystem::path(*found).filename().string()};
  }
  messages << "Error: cannot find " << name << "\n";
  return std::nullopt;
}

// Loads the picture and checks it is a 24-bit still of 720 x 576 (PAL) or 720 x 480 (NTSC).
std::optional<Bitmap> LoadStillPicture(const std::string& name, const FoundPicture& found,
                                       std::ostream& messages) {
  Bitmap bitmap;
  try {
    bitmap = LoadBitmap(found.path);
  } catch (const IoError& io) {
    messages << "Error: " << name << ": " << io.what() << "\n";
    return std::nullopt;
  }
  if (bitmap.bits_per_pixel != 24) {
    messages << "Error: " << name << " has " << bitmap.bits_per_pixel
             << " bits per pixel, not 24\n";
    return std::nullopt;
  }
  bool pal = bitmap.width == kStillWidth && bitmap.height == kPalHeight;
  bool ntsc = bitmap.width == kStillWidth && bitmap.height == kNtscHeight;
  if (!pal && !ntsc) {
    char text[64];
    std::snprintf(text, sizeof text, "Width: %d, Height: %d\n", bitmap.width, bitmap.height);
    messages << text << "Error: bitmap size error!\n";
    return std::nullopt;
  }
  return bitmap;
}

// Encodes the picture within the output budget. The rate budget starts at the output budget
// and falls by one step whenever the still does not fit; the encoder's own rate control makes
// the first encoding fit.
std::vector<uint8_t> EncodeWithinBudget(const YCbCrPicture& picture, int frame_rate,
                                        StillSettings& settings) {
  std::vector<uint8_t> still;
  for (int64_t budget = kOutputBudget; budget > 0; budget -= kBudgetStep) {
    settings.parameters.bit_rate = static_cast<double>(budget * 8 * frame_rate);
    still = EncodeStill(picture, settings, budget);
    if (static_cast<int64_t>(still.size()) <= kOutputBudget) break;
  }
  return still;
}

}  // namespace

std::optional<EncodedPicture> EncodePicture(const std::string& name,
                                            const std::string& program_directory,
                                            std::ostream& messages) {
  const std::optional<FoundPicture> found = FindPicture(name, program_directory, messages);
  if (!found) return std::nullopt;
  std::optional<Bitmap> bitmap = LoadStillPicture(name, *found, messages);
  if (!bitmap) return std::nullopt;
  const bool pal = bitmap->height == kPalHeight;
  const int frame_rate = pal ? 25 : 30;

  StillSettings settings;
  const std::string& file_name = found->file_name;
  std::string base_name = file_name.substr(0, file_name.size() - 4);
  if (!LoadSettings(program_directory, pal, base_name, settings, messages)) return std::nullopt;
  const EncoderParameters& p = settings.parameters;
  if (p.horizontal_size != bitmap->width || p.vertical_size != bitmap->height) {
    messages << "Error: the parameter file is for " << p.horizontal_size << " x " << p.vertical_size
             << ", the picture is " << bitmap->width << " x " << bitmap->height << "\n";
    return std::nullopt;
  }

  YCbCrPicture picture = ConvertToYCbCr(*bitmap, p.matrix_coefficients, p.progressive_frame != 0);
  bitmap.reset();  // the encoder works from the planes alone
  return EncodedPicture{.still = EncodeWithinBudget(picture, frame_rate, settings),
                        .default_output = JoinPath(
                            found->directory, file_name.substr(0, file_name.size() - 3) + "m2v")};
}

bool ConvertPicture(const std::string& name, const std::string& program_directory,
                    std::ostream& messages, const std::optional<std::string>& output_path) {
  const std::optional<EncodedPicture> encoded = EncodePicture(name, program_directory, messages);
  if (!encoded) return false;
  const std::string output = output_path ? *output_path : encoded->default_output;
  try {
    WriteFileAtomically(output, encoded->still);
  } catch (const IoError& io) {
    messages << "Error: cannot write " << output << ": " << io.what() << "\n";
    return false;
  }
  return true;
}

int RunFormatSwitch(const std::vector<std::string>& arguments, const std::string& program_directory,
                    std::ostream& messages) {
  // One picture with the still's own name: "-c PICTURE -o OUT" or "-o OUT -c PICTURE".
  if (arguments.size() == 4 && arguments[0] == "-c" && arguments[2] == "-o")
    return ConvertPicture(arguments[1], program_directory, messages, arguments[3]) ? 0 : 1;
  if (arguments.size() == 4 && arguments[0] == "-o" && arguments[2] == "-c")
    return ConvertPicture(arguments[3], program_directory, messages, arguments[1]) ? 0 : 1;
  if (arguments.size() < 2 || arguments[0] != "-c") {
    messages << "usage: formatswitch -c <picture>.bmp\n"
                "Encodes a 24-bit 720 x 576 or 720 x 480 bitmap into an MPEG-2 still "
                "<picture>.m2v.\n";
    return 2;
  }
  bool all = true;
  for (size_t i = 1; i < arguments.size(); ++i) {
    all = ConvertPicture(arguments[i], program_directory, messages) && all;
  }
  return all ? 0 : 1;
}

}  // namespace qv::formatswitch
