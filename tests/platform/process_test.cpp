// Starting a program with an argument list and waiting for it: its exit status, a signal that
// ended it, a program past its time, and one that cannot start.
#include "platform/process.h"

#include <gtest/gtest.h>

#include "platform/file.h"
#include "tests/support/temp_dir.h"

namespace qv {
namespace {

using std::chrono::milliseconds;

TEST(Process, GivesTheExitStatusOrOneHundredTwentyEightPlusTheSignal) {
  testing::TempDir dir;
  std::optional<Process> ended = Process::Start("/bin/sh", {"-c", "exit 3"}, dir.path());
  ASSERT_TRUE(ended);
  EXPECT_EQ(ended->WaitFor(milliseconds(60000)), 3);
  std::optional<Process> killed = Process::Start("/bin/sh", {"-c", "kill -9 $$"}, dir.path());
  ASSERT_TRUE(killed);
  EXPECT_EQ(killed->WaitFor(milliseconds(60000)), 128 + 9);
  // Waiting again for a process already reaped gives nothing.
  EXPECT_EQ(killed->WaitFor(milliseconds(10)), std::nullopt);
}

TEST(Process, RunsInItsDirectoryWithItsOutputInAFile) {
  testing::TempDir dir;
  const std::string output = dir.File("out.txt");
  std::optional<Process> process =
      Process::Start("/bin/sh", {"-c", "pwd; echo 'a b;c' $1", "sh", "$(x)"}, dir.path(), output);
  ASSERT_TRUE(process);
  ASSERT_EQ(process->WaitFor(milliseconds(60000)), 0);
  std::vector<uint8_t> bytes = ReadWholeFile(output);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), dir.path() + "\na b;c $(x)\n");
}

TEST(Process, OnePastItsTimeIsEndedAndOneThatCannotStartIsNothing) {
  testing::TempDir dir;
  std::optional<Process> sleeper = Process::Start("/bin/sleep", {"30"}, dir.path());
  ASSERT_TRUE(sleeper);
  EXPECT_EQ(sleeper->WaitFor(milliseconds(50)), std::nullopt);
  EXPECT_FALSE(Process::Start(dir.File("no-such-program"), {}, dir.path()));
}

}  // namespace
}  // namespace qv
