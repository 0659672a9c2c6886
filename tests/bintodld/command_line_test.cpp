// The bin-to-download converter's command line as a program: --help and --version alone are
// its own; every other argument list reaches the converter and gets its messages as they were.
#include <gtest/gtest.h>

#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace qv {
namespace {

testing::ProgramRun RunBintodld(const std::vector<std::string>& arguments,
                                const std::string& directory = "") {
  std::vector<std::string> all = {QV_BINTODLD_PROGRAM};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return testing::RunProgram(all, directory);
}

TEST(BintodldCommandLine, HelpAndVersionAloneExitWithZero) {
  for (const char* help : {"--help", "-h"}) {
    SCOPED_TRACE(help);
    testing::ProgramRun run = RunBintodld({help});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_TRUE(run.output.starts_with("Usage: bintodld manufacturer.cfg CONFIG IMAGE.bin\n"))
        << run.output;
    EXPECT_NE(run.output.find("\n  -h, --help "), std::string::npos);
    EXPECT_NE(run.output.find("\nExit status:\n"), std::string::npos);
    EXPECT_EQ(run.errors, "");
  }
  testing::ProgramRun version = RunBintodld({"--version"});
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.output, "bintodld " QUORVANE_VERSION "\n");
}

TEST(BintodldCommandLine, EveryOtherArgumentListKeepsTheConvertersMessage) {
  testing::TempDir dir;
  const std::string wrong_format = "Wrong format!\nThe format must be : bintodld *.bin!\n";
  const std::vector<std::vector<std::string>> wrong_counts = {
      {},
      {"x.bin"},
      {"--help", "x.bin"},
      {"--version", "--help"},
      {"-help"},
      {"--HELP"},
      {"-v"},
      {"a.cfg", "b.cfg", "c.bin", "--help"},
  };
  for (const std::vector<std::string>& arguments : wrong_counts) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    testing::ProgramRun run = RunBintodld(arguments, dir.path());
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.output, wrong_format);
  }
  // Three arguments are the converter's, whatever they look like: "--version" is a
  // manufacturer.cfg that cannot be opened.
  testing::ProgramRun three = RunBintodld({"--version", "--help", "x.bin"}, dir.path());
  EXPECT_EQ(three.exit_status, 1);
  EXPECT_EQ(three.output, "Can not open the input file!\n");
}

}  // namespace
}  // namespace qv
