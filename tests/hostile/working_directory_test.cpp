// Working directories the tool cannot write into, or that are not directories at all.
//
// The tests run as root in CI, and root writes into any directory whatever its permission
// bits. A read-only directory is still read-only to a process in a user namespace of its own
// (`unshare --user`): there root's capabilities do not reach the files of the outer system,
// and the directory's owner bits apply. Where no such namespace can be made, the command runs
// as the unprivileged user "nobody" (`setpriv`); where neither is possible, and only then,
// the case is skipped.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "tests/hostile/hostile_support.h"
#include "tests/support/run_program.h"

namespace qv::testing {
namespace {

namespace fs = std::filesystem;

bool Works(const std::vector<std::string>& command) {
  TempDir scratch;
  return RunHostile(command[0], {command.begin() + 1, command.end()}, scratch.path()).status == 0;
}

// The program and arguments in front of a command that make it an unprivileged process, or
// nothing when there is no way (and no need is when the tests do not run as root).
std::optional<std::vector<std::string>> Unprivileged() {
  if (::geteuid() != 0) return std::vector<std::string>{};
  if (Works({"/usr/bin/unshare", "--user", "/bin/true"}))
    return std::vector<std::string>{"/usr/bin/unshare", "--user"};
  if (Works(
          {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/true"})) {
    return std::vector<std::string>{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                    "--clear-groups"};
  }
  return std::nullopt;
}

// `quorvane` with `arguments`, made unprivileged by `prefix`.
HostileRun RunUnprivileged(const std::vector<std::string>& prefix,
                           const std::vector<std::string>& arguments,
                           const std::string& directory) {
  if (prefix.empty()) return RunHostile("quorvane", arguments, directory);
  std::vector<std::string> command(prefix.begin() + 1, prefix.end());
  command.push_back(ProgramPath("quorvane"));
  command.insert(command.end(), arguments.begin(), arguments.end());
  return RunHostile(prefix[0], command, directory);
}

class HostileWorkingDirectory : public Hostile {};

TEST_F(HostileWorkingDirectory, ThatIsReadOnly) {
  std::optional<std::vector<std::string>> prefix = Unprivileged();
  if (!prefix)
    GTEST_SKIP()
        << "running as root with neither a user namespace nor setpriv to drop the privilege";
  // Everything the unprivileged command reads is open to all; the working directory is not
  // writable to anyone but a privileged process.
  fs::permissions(inputs_.path(), fs::perms::owner_all | fs::perms::group_read |
                                      fs::perms::group_exec | fs::perms::others_read |
                                      fs::perms::others_exec);
  fs::permissions(work_.path(), fs::perms::owner_all | fs::perms::others_exec);
  const std::string work = Input("read-only");
  fs::create_directory(work);
  fs::permissions(work, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                            fs::perms::group_exec | fs::perms::others_read |
                            fs::perms::others_exec);
  for (const char* name : {"box.bin", "box.dld"}) {
    std::string image =
        WriteInput(name, std::string(name).ends_with(".dld") ? SampleDownload(kAppImage)
                                                             : SampleImage(kAppImage));
    fs::permissions(image, fs::perms::others_read, fs::perm_options::add);
    HostileRun run = RunUnprivileged(*prefix, {"build", image, "--workdir", work}, work_.path());
    EXPECT_TRUE(Refused(run, "File access denied")) << name;
    EXPECT_EQ(ResultLikeFiles(work), std::vector<std::string>{}) << name;
    EXPECT_TRUE(fs::is_empty(work)) << name;
  }
  // A working directory that must be made inside the read-only one cannot be.
  HostileRun run = RunUnprivileged(
      *prefix, {"build", Input("box.bin"), "--workdir", work + "/inner"}, work_.path());
  EXPECT_TRUE(Refused(run, "File access denied"));
  EXPECT_TRUE(watched_.Unchanged());
}

TEST_F(HostileWorkingDirectory, ThatIsAFile) {
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  std::string file = WriteInput("not-a-directory", {1, 2, 3});
  for (const std::string& work : {file, file + "/below"}) {
    EXPECT_TRUE(Refused(RunHostile("quorvane", {"build", image, "--workdir", work}, Work()),
                        "Quorvan[1.0.00]: "))
        << work;
  }
  ExpectNoResult();
}

TEST_F(HostileWorkingDirectory, ACurrentDirectoryThatIsGone) {
  // The command started in a directory that was removed: relative names have nothing to
  // stand on.
  std::string image = WriteInput("box.bin", SampleImage(kAppImage));
  const std::string gone = Input("gone");
  fs::create_directory(gone);
  HostileRun run = RunHostile("/bin/sh",
                              {"-c", "cd \"$1\" && rmdir \"$1\" && exec \"$2\" build box.bin", "sh",
                               gone, ProgramPath("quorvane")},
                              Work());
  EXPECT_TRUE(Refused(run, "Quorvan[1.0.00]: "));
  ExpectNoResult();
}

}  // namespace
}  // namespace qv::testing
