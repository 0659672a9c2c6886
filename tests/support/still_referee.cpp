#include "tests/support/still_referee.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace qv::testing {

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

Result<DecodedStill> DecodeWithFfmpeg(const std::string& still, int width, int height,
                                      const std::string& scratch_directory) {
  std::string raw = scratch_directory + "/ffmpeg-decoded.yuv";
  ProgramRun run = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", still, "-f",
                               "rawvideo", "-pix_fmt", "yuv420p", raw});
  std::string bytes = ReadText(raw);
  std::filesystem::remove(raw);
  size_t picture = static_cast<size_t>(width) * height * 3 / 2;
  if (run.exit_status != 0 || !run.errors.empty())
    return Fail("ffmpeg", -1, "ffmpeg exit " + std::to_string(run.exit_status) + ": " + run.errors);
  if (bytes.size() != picture) {
    return Fail("ffmpeg", -1,
                "ffmpeg decoded " + std::to_string(bytes.size()) + " bytes, not one " +
                    std::to_string(width) + " x " + std::to_string(height) + " picture");
  }
  return DecodedStill{
      width, height,
      std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(width) * height)};
}

Result<DecodedStill> DecodeWithMpeg2dec(const std::string& still, int width, int height,
                                        const std::string& scratch_directory) {
  ProgramRun run = RunProgram({"mpeg2dec", "-o", "pgm", still}, scratch_directory);
  // Its banner and closing count are expected; any other line is a warning.
  std::istringstream lines(run.errors + run.output);
  std::string warnings;
  for (std::string text; std::getline(lines, text);) {
    if (text.empty() || text.rfind("libmpeg2-", 0) == 0 ||
        text.find("frames decoded") != std::string::npos) {
      continue;
    }
    warnings += text + "\n";
  }
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(scratch_directory)) {
    files.push_back(entry.path().filename().string());
  }
  if (run.exit_status != 0 || !warnings.empty())
    return Fail("mpeg2dec", -1,
                "mpeg2dec exit " + std::to_string(run.exit_status) + ": " + warnings);
  if (files.size() != 1 || files[0] != "0.pgm") {
    return Fail("mpeg2dec", -1,
                "mpeg2dec wrote " + std::to_string(files.size()) + " files, not one picture");
  }
  std::string pgm = ReadText(scratch_directory + "/0.pgm");
  std::filesystem::remove(scratch_directory + "/0.pgm");
  std::istringstream header(pgm);
  std::string magic;
  int pgm_width = 0, pgm_height = 0, max = 0;
  header >> magic >> pgm_width >> pgm_height >> max;
  size_t data = static_cast<size_t>(header.tellg()) + 1;
  // libmpeg2's pgm holds the luma rows, then the two chroma planes side by side below them.
  if (magic != "P5" || pgm_width != width || pgm_height != height * 3 / 2 ||
      pgm.size() != data + static_cast<size_t>(pgm_width) * pgm_height) {
    return Fail("mpeg2dec", -1,
                "mpeg2dec picture is " + std::to_string(pgm_width) + " x " +
                    std::to_string(pgm_height) + " (" + magic + ")");
  }
  return DecodedStill{width, height,
                      std::vector<uint8_t>(pgm.begin() + static_cast<long>(data),
                                           pgm.begin() + static_cast<long>(data) +
                                               static_cast<long>(width) * height)};
}

}  // namespace qv::testing
