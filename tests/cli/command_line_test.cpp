// The command line of the quorvane program as a script sees it: --help and --version, the
// paths build prints on standard output (or its JSON object), --quiet, and what is printed for
// a mistyped command or option.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

#include "platform/bitmap.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_pictures.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::ProgramPath;
using testing::ProgramRun;
using testing::TempDir;

ProgramRun RunQuorvane(std::vector<std::string> arguments, const std::string& directory = "") {
  arguments.insert(arguments.begin(), ProgramPath("quorvane"));
  return testing::RunProgram(arguments, directory);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

TEST(QuorvaneCommandLine, VersionAndHelpOfEveryCommand) {
  ProgramRun version = RunQuorvane({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.output, "quorvane " QUORVANE_VERSION "\n");

  ProgramRun help = RunQuorvane({"--help"});
  EXPECT_EQ(help.exit_status, 0);
  EXPECT_TRUE(help.output.starts_with("Usage: quorvane [OPTIONS] SUBCOMMAND\n")) << help.output;
  EXPECT_NE(help.output.find("\n  -h, --help "), std::string::npos) << help.output;
  EXPECT_NE(help.output.find("\nExit status: "), std::string::npos);
  for (const char* command : {"build", "info", "verify", "sample", "extract", "pack", "diff"}) {
    SCOPED_TRACE(command);
    EXPECT_NE(help.output.find(std::string("\n  ") + command + " "), std::string::npos);
    ProgramRun command_help = RunQuorvane({command, "--help"});
    EXPECT_EQ(command_help.exit_status, 0);
    EXPECT_TRUE(command_help.output.starts_with(std::string("Usage: quorvane ") + command + " "))
        << command_help.output;
    EXPECT_NE(command_help.output.find("Exit status: 0 "), std::string::npos);
    // Every line fits a terminal of 80 columns but a long option name's.
    for (const std::string& line : Lines(command_help.output)) {
      if (!line.starts_with("  --")) {
        EXPECT_LE(line.size(), 80u) << line;
      }
    }
  }
  // The options build, extract, pack and sample share.
  for (const char* command : {"build", "extract", "pack", "sample"}) {
    SCOPED_TRACE(command);
    EXPECT_NE(RunQuorvane({command, "--help"}).output.find("\n  -q, --quiet "), std::string::npos);
  }
}

// The window's program answers --help and --version before it looks for a display.
TEST(QuorvaneCommandLine, TheWindowsHelpAndVersionNeedNoDisplay) {
  const std::vector<std::string> without_display = {"env",
                                                    "-u",
                                                    "DISPLAY",
                                                    "-u",
                                                    "WAYLAND_DISPLAY",
                                                    "-u",
                                                    "QT_QPA_PLATFORM",
                                                    ProgramPath("quorvane-gui")};
  std::vector<std::string> arguments = without_display;
  arguments.push_back("--version");
  ProgramRun version = testing::RunProgram(arguments);
  EXPECT_EQ(version.exit_status, 0) << version.errors;
  EXPECT_EQ(version.output, "quorvane-gui " QUORVANE_VERSION "\n");
  for (const char* help : {"--help", "-h"}) {
    arguments = without_display;
    arguments.push_back(help);
    ProgramRun run = testing::RunProgram(arguments);
    EXPECT_EQ(run.exit_status, 0) << run.errors;
    EXPECT_TRUE(run.output.starts_with("Usage: quorvane-gui [OPTION...] [FILE]\n")) << run.output;
    EXPECT_NE(run.output.find("\n  -h, --help "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\nExit status:"), std::string::npos) << run.output;
  }
  // Without them, no display is a message and exit status 1 rather than Qt's abort.
  ProgramRun window = testing::RunProgram(without_display);
  EXPECT_EQ(window.exit_status, 1);
  EXPECT_TRUE(window.errors.starts_with("quorvane-gui: no display")) << window.errors;
}

class BuildReport : public ::testing::Test {
 protected:
  static void WriteShort(const std::string& path) {
    std::ofstream(path, std::ios::binary) << std::string(100, 'k');
  }
  void SetUp() override {
    for (const char* name : {"box.bin", "box.dld"}) {
      ProgramRun run = RunQuorvane({"sample", "--quiet", inputs_.File(name)});
      ASSERT_EQ(run.exit_status, 0) << run.errors;
      EXPECT_EQ(run.output, "");  // --quiet: no report of what was written
    }
  }
  TempDir inputs_;
  TempDir work_;
};

TEST_F(BuildReport, PrintsThePathsItWroteOnePerLine) {
  const std::string outputs = fs::canonical(work_.path()).string();
  // Relative to the current directory, with "." in it: the paths are absolute and plain.
  ProgramRun run =
      RunQuorvane({"build", inputs_.File("box.bin"), "--output-dir", "./out/."}, work_.path());
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.output, outputs + "/out/box_Merge.bin\n" + outputs + "/out/box_Merge.dld\n");
  EXPECT_TRUE(fs::exists(outputs + "/out/box_Merge.bin"));
  EXPECT_NE(run.errors.find("Information: "), std::string::npos);  // the messages as before

  // A download file keeps no merged image: one line.
  run = RunQuorvane({"build", inputs_.File("box.dld"), "--output-dir", work_.path()});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.output, work_.path() + "/box_Merge.dld\n");

  // Nothing written, nothing printed there; the refusal on standard error.
  run = RunQuorvane({"build", inputs_.File("box.dld"), "--output-dir", work_.path()});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_EQ(run.output, "");
  EXPECT_NE(run.errors.find("not replaced; --force replaces them"), std::string::npos);
}

TEST_F(BuildReport, JsonNamesTheOutputsAndEveryMessage) {
  ProgramRun run =
      RunQuorvane({"build", inputs_.File("box.bin"), "--output-dir", work_.path(), "--json"});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  nlohmann::json report = nlohmann::json::parse(run.output);
  EXPECT_EQ(report["written"], true);
  EXPECT_EQ(report["merged_image"], work_.File("box_Merge.bin"));
  EXPECT_EQ(report["download_file"], work_.File("box_Merge.dld"));
  ASSERT_EQ(report["messages"].size(), 1u);
  EXPECT_EQ(report["messages"][0]["kind"], "information");
  // The same messages on standard error, as printed.
  EXPECT_EQ(run.errors, report["messages"][0]["caption"].get<std::string>() + ": " +
                            report["messages"][0]["text"].get<std::string>() + "\n");

  // A refusal: nothing written, the object all the same, with the error, and exit status 1.
  run = RunQuorvane(
      {"build", inputs_.File("box.bin"), "--output-dir", work_.path(), "--json", "--quiet"});
  EXPECT_EQ(run.exit_status, 1);
  report = nlohmann::json::parse(run.output);
  EXPECT_EQ(report["written"], false);
  EXPECT_TRUE(report["merged_image"].is_null());
  EXPECT_TRUE(report["download_file"].is_null());
  ASSERT_EQ(report["messages"].size(), 1u);
  EXPECT_EQ(report["messages"][0]["kind"], "error");
  EXPECT_NE(run.errors.find("Error: "), std::string::npos);  // errors are shown when quiet
}

TEST_F(BuildReport, QuietLeavesOutInformationButNotErrors) {
  // Outputs in the way, replaced: what would be said is information, and all of it goes.
  ProgramRun run =
      RunQuorvane({"build", "-q", inputs_.File("box.bin"), "--output-dir", work_.path()});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  run = RunQuorvane(
      {"build", inputs_.File("box.bin"), "--output-dir", work_.path(), "--force", "--quiet"});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(Lines(run.output).size(), 2u);
  // A refused choice is printed whatever --quiet says.
  run = RunQuorvane({"build", inputs_.File("box.bin"), "--output-dir", work_.path(), "--force",
                     "--quiet", "--key", inputs_.File("box.dld")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("Error: "), std::string::npos);

  // extract and pack alike.
  run = RunQuorvane({"extract", "-q", inputs_.File("box.dld"), work_.File("parts")});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  run = RunQuorvane({"pack", "--quiet", work_.File("parts"), work_.File("again.dld")});
  ASSERT_EQ(run.exit_status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  run = RunQuorvane({"pack", "--quiet", work_.File("parts"), work_.File("again.dld")});
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.errors.find("Error: "), std::string::npos);
}

// An error of Open or of a choice is followed by the file it is about, as the user named it;
// the fixed text before it stays as it is.
TEST_F(BuildReport, ErrorsOfOpenAndTheChoicesNameTheirFile) {
  WriteShort(inputs_.File("short.bin"));
  SaveBitmap(testing::MakePicture(testing::PictureKind::kGradient, 720, 576),
             inputs_.File("logo.bmp"));
  struct Case {
    std::vector<std::string> arguments;
    std::string errors;
  };
  const Case cases[] = {
      {{"absent.bin"}, "Quorvan[1.0.00]: File not found (absent.bin)\n"},
      {{"box.bin", "--key", "short.bin"},
       "Error: Quorvane: Open File Error: file overtop! (short.bin)\n"},
      {{"box.bin", "--boot", "logo.bmp", "--default-db", "./short.bin"},
       "Error: Quorvane: Open File Error: file overtop! (./short.bin)\n"},
      {{"box.bin", "--menu", "absent.jpg"}, "Quorvan[1.0.00]: File not found (absent.jpg)\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = {"build"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    arguments.insert(arguments.end(), {"--output-dir", work_.path()});
    ProgramRun run = RunQuorvane(arguments, inputs_.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.errors, c.errors);
  }
}

TEST(QuorvaneCommandLine, AMistypedCommandOrOptionIsNamedWithWhatWasMeant) {
  struct Case {
    std::vector<std::string> arguments;
    std::string line;  // the last line printed
  };
  const Case cases[] = {
      {{"buidl", "box.bin"}, "quorvane: unknown command 'buidl'; did you mean 'build'?"},
      {{"verfy", "box.bin"}, "quorvane: unknown command 'verfy'; did you mean 'verify'?"},
      {{"dif"}, "quorvane: unknown command 'dif'; did you mean 'diff'?"},
      {{"xyzzy"}, "quorvane: unknown command 'xyzzy'"},
      {{"--verison"}, "quorvane: unknown option '--verison'; did you mean '--version'?"},
      {{"build", "box.bin", "--forse"},
       "quorvane: unknown option '--forse' of build; did you mean '--force'?"},
      {{"build", "--output-dir=x", "box.bin", "--qiuet"},
       "quorvane: unknown option '--qiuet' of build; did you mean '--quiet'?"},
      {{"build", "box.bin", "--allow-bad"},
       "quorvane: unknown option '--allow-bad' of build; did you mean '--allow-bad-checksums'?"},
      {{"build", "box.bin", "--model-ID=x"},
       "quorvane: unknown option '--model-ID' of build; did you mean '--model-id'?"},
      {{"sample", "box.bin", "--variant", "all", "--forec"},
       "quorvane: unknown option '--forec' of sample; did you mean '--force'?"},
      {{"info", "box.bin", "-z"}, "quorvane: unknown option '-z' of info"},
  };
  TempDir work;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    ProgramRun run = RunQuorvane(c.arguments, work.path());
    EXPECT_EQ(run.exit_status, 2);
    std::vector<std::string> lines = Lines(run.errors);
    ASSERT_GE(lines.size(), 2u) << run.errors;  // CLI11's own message first
    EXPECT_EQ(lines.back(), c.line);
  }
  // A usage error that names nothing unknown gets CLI11's message alone.
  ProgramRun run = RunQuorvane({"sample", "box.bin", "--variant", "most"}, work.path());
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_EQ(run.errors.find("quorvane: unknown"), std::string::npos) << run.errors;
  EXPECT_EQ(fs::directory_iterator(work.path()), fs::directory_iterator());
}

}  // namespace
}  // namespace qv
