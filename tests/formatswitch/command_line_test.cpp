// The still converter as a program of its own: --help and --version, the argument lists it
// refused before and still refuses alike, and a picture converted where a user keeps it (the
// current directory, no parameter files beside the program), which must make the very still
// the program makes inside the tool's working directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/bitmap.h"
#include "platform/file.h"
#include "tests/support/run_program.h"
#include "tests/support/still_referee.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"
#include "workfiles/parameter_files.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::PictureKind;
using testing::ProgramRun;
using testing::TempDir;

std::span<const uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

std::vector<std::string> FilesIn(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(directory))
    names.push_back(fs::relative(entry.path(), directory).string());
  std::sort(names.begin(), names.end());
  return names;
}

// The program alone in a directory of its own, without parameter files: as a user installs it.
class BareProgram {
 public:
  BareProgram() { fs::copy_file(QV_FORMATSWITCH_PROGRAM, dir_.File("formatswitch")); }
  std::string path() const { return dir_.File("formatswitch"); }
  std::vector<std::string> Files() const { return FilesIn(dir_.path()); }

 private:
  TempDir dir_;
};

ProgramRun Convert(const std::string& program, std::vector<std::string> arguments,
                   const std::string& directory) {
  arguments.insert(arguments.begin(), program);
  return testing::RunProgram(arguments, directory);
}

TEST(FormatSwitchCommandLine, HelpAndVersionAloneExitWithZero) {
  BareProgram program;
  TempDir elsewhere;
  for (const char* help : {"--help", "-h"}) {
    SCOPED_TRACE(help);
    ProgramRun run = Convert(program.path(), {help}, elsewhere.path());
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(run.output.starts_with("Usage: formatswitch -c PICTURE.bmp [PICTURE.bmp...]\n"))
        << run.output;
    EXPECT_NE(run.output.find("\n  -o OUT "), std::string::npos);
    EXPECT_NE(run.output.find("\nExit status:\n"), std::string::npos);
    EXPECT_EQ(run.errors, "");
  }
  ProgramRun version = Convert(program.path(), {"--version"}, elsewhere.path());
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.output, "formatswitch " QUORVANE_VERSION "\n");
  EXPECT_EQ(FilesIn(elsewhere.path()), std::vector<std::string>{});
}

TEST(FormatSwitchCommandLine, ArgumentListsItDoesNotUnderstandKeepTheirMessages) {
  BareProgram program;
  TempDir elsewhere;
  const std::string usage =
      "usage: formatswitch -c <picture>.bmp\n"
      "Encodes a 24-bit 720 x 576 or 720 x 480 bitmap into an MPEG-2 still <picture>.m2v.\n";
  const std::vector<std::vector<std::string>> not_understood = {
      {},
      {"-c"},
      {"--help", "x.bmp"},
      {"--version", "-c"},
      {"-x", "a.bmp"},
      {"-o", "out.m2v"},
      {"-o", "out.m2v", "-c"},
      {"-help"},
      {"--HELP"},
      {"-v"},
  };
  for (const std::vector<std::string>& arguments : not_understood) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    ProgramRun run = Convert(program.path(), arguments, elsewhere.path());
    EXPECT_EQ(run.exit_status, 2);
    EXPECT_EQ(run.errors, usage);
    EXPECT_EQ(run.output, "");
  }
  // After -c, every argument is a picture's name, --help included.
  ProgramRun named = Convert(program.path(), {"-c", "--help"}, elsewhere.path());
  EXPECT_EQ(named.exit_status, 1);
  EXPECT_EQ(named.errors, "Error: --help is not a bitmap (*.bmp) name\n");
  ProgramRun missing =
      Convert(program.path(), {"-c", "absent.bmp", "-o", "a.m2v"}, elsewhere.path());
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_EQ(missing.errors, "Error: cannot find absent.bmp\n");
  EXPECT_EQ(FilesIn(elsewhere.path()), std::vector<std::string>{});
}

// A PAL and an NTSC picture, each converted from the current directory by the program alone
// (by -c, and by -o in both orders) and by the program in a working directory as the tool
// lays it out: the stills decode in both referees and are the same bytes.
TEST(FormatSwitchCommandLine, APictureInTheCurrentDirectoryWithTheBuiltInParameters) {
  BareProgram program;
  TempDir working;  // the tool's layout: program, parameter files, picture
  fs::copy_file(QV_FORMATSWITCH_PROGRAM, working.File("formatswitch"));
  WriteWholeFile(working.File("PAL.par"), Bytes(kPalParContent));
  WriteWholeFile(working.File("NTSC.par"), Bytes(kNtscParContent));

  struct Case {
    int height;
    PictureKind kind;
  };
  for (const Case& c : {Case{576, PictureKind::kPhoto}, Case{480, PictureKind::kColourBars}}) {
    SCOPED_TRACE(c.height);
    TempDir user;
    fs::create_directory(user.File("pictures"));
    SaveBitmap(testing::MakePicture(c.kind, 720, c.height, 7), user.File("pictures/Logo.bmp"));
    fs::copy_file(user.File("pictures/Logo.bmp"), working.File("Logo.bmp"),
                  fs::copy_options::overwrite_existing);

    ProgramRun inside = Convert(working.File("formatswitch"), {"-c", "Logo.bmp"}, TempDir().path());
    ASSERT_EQ(inside.exit_status, 0) << inside.errors;
    const std::vector<uint8_t> expected = ReadWholeFile(working.File("Logo.m2v"));

    // Beside the picture, named after it as the directory spells it.
    ProgramRun beside = Convert(program.path(), {"-c", "pictures/logo.bmp"}, user.path());
    EXPECT_EQ(beside.exit_status, 0) << beside.errors;
    EXPECT_EQ(beside.errors, "");
    EXPECT_EQ(ReadWholeFile(user.File("pictures/Logo.m2v")), expected);
    // -o names the output, relative to the current directory, before or after -c.
    ProgramRun after =
        Convert(program.path(), {"-c", "pictures/Logo.bmp", "-o", "a.m2v"}, user.path());
    EXPECT_EQ(after.exit_status, 0) << after.errors;
    ProgramRun before = Convert(
        program.path(), {"-o", user.File("b.still"), "-c", "pictures/Logo.bmp"}, user.path());
    EXPECT_EQ(before.exit_status, 0) << before.errors;
    EXPECT_EQ(ReadWholeFile(user.File("a.m2v")), expected);
    EXPECT_EQ(ReadWholeFile(user.File("b.still")), expected);

    // Nothing else is left, beside the picture or the program.
    EXPECT_EQ(FilesIn(user.path()),
              (std::vector<std::string>{"a.m2v", "b.still", "pictures", "pictures/Logo.bmp",
                                        "pictures/Logo.m2v"}));
    EXPECT_EQ(program.Files(), std::vector<std::string>{"formatswitch"});

    TempDir scratch;
    Result<testing::DecodedStill> ffmpeg =
        testing::DecodeWithFfmpeg(user.File("a.m2v"), 720, c.height, scratch.path());
    EXPECT_TRUE(ffmpeg) << ffmpeg.error().text;
    Result<testing::DecodedStill> mpeg2dec =
        testing::DecodeWithMpeg2dec(user.File("a.m2v"), 720, c.height, scratch.path());
    EXPECT_TRUE(mpeg2dec) << mpeg2dec.error().text;
    fs::remove(working.File("Logo.m2v"));
  }
}

// A picture beside the program wins over one of the same name in the current directory, as
// the tool's working directory must; a parameter file beside the program wins over the
// built-in one; an output that cannot be written is a failure with nothing left.
TEST(FormatSwitchCommandLine, WhatIsBesideTheProgramComesFirst) {
  TempDir working;
  fs::copy_file(QV_FORMATSWITCH_PROGRAM, working.File("formatswitch"));
  TempDir user;
  SaveBitmap(testing::MakePicture(PictureKind::kGradient, 720, 576, 3), working.File("boot.bmp"));
  SaveBitmap(testing::MakePicture(PictureKind::kGradient, 704, 576, 3), user.File("boot.bmp"));
  ProgramRun run = Convert(working.File("formatswitch"), {"-c", "boot.bmp"}, user.path());
  EXPECT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_TRUE(FileExists(working.File("boot.m2v")));
  EXPECT_FALSE(FileExists(user.File("boot.m2v")));

  // A parameter file beside the program is read: a malformed one is refused, not replaced.
  std::string par(kPalParContent);
  par.replace(par.find("720            /* horizontal_size"), 3, "7x0");
  WriteWholeFile(working.File("pal.par"), Bytes(par));
  run = Convert(working.File("formatswitch"), {"-c", "boot.bmp", "-o", "x.m2v"}, user.path());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("pal.par: line 15"), std::string::npos) << run.errors;
  EXPECT_FALSE(FileExists(user.File("x.m2v")));
  fs::remove(working.File("pal.par"));

  run =
      Convert(working.File("formatswitch"), {"-c", "boot.bmp", "-o", "absent/x.m2v"}, user.path());
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("Error: cannot write absent/x.m2v"), std::string::npos) << run.errors;
  EXPECT_EQ(FilesIn(user.path()), std::vector<std::string>{"boot.bmp"});
}

}  // namespace
}  // namespace qv
