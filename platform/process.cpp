#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

extern char** environ;

namespace qv {

namespace {

// The programs started and not yet waited for.
std::mutex running_mutex;
std::set<pid_t>& Running() {
  static std::set<pid_t> running;
  return running;
}

void Track(pid_t pid) {
  std::lock_guard<std::mutex> lock(running_mutex);
  Running().insert(pid);
}

void Forget(pid_t pid) {
  std::lock_guard<std::mutex> lock(running_mutex);
  Running().erase(pid);
}

int ExitStatusOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

}  // namespace

std::optional<Process> Process::Start(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const std::string& directory, const std::string& output_path,
                                      const std::string& error_path) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments)
    argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  const char* output = output_path.empty() ? "/dev/null" : output_path.c_str();
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output, O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  if (error_path == output_path) {
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  } else {
    const char* errors = error_path.empty() ? "/dev/null" : error_path.c_str();
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors, O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());

  // The program starts with no signal held back and the default actions of the signals that
  // end a program, whatever this process holds back or takes itself.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, taken;
  sigemptyset(&none);
  sigemptyset(&taken);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    sigaddset(&taken, signal);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &taken);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  int error = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (error != 0) return std::nullopt;
  Track(pid);
  return Process(pid);
}

Process::Process(Process&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Kill();
    pid_ = std::exchange(other.pid_, -1);
  }
  return *this;
}

Process::~Process() {
  Kill();
}

void Process::Kill() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  Forget(pid_);
  pid_ = -1;
}

std::optional<int> Process::WaitFor(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  if (!WaitUntilEnded(deadline)) {
    Kill();
    return std::nullopt;
  }
  int status = 0;
  pid_t done;
  do {
    done = ::waitpid(pid_, &status, 0);
  } while (done < 0 && errno == EINTR);
  Forget(pid_);
  pid_ = -1;
  if (done < 0) return std::nullopt;
  return ExitStatusOf(status);
}

bool Process::WaitUntilEnded(std::chrono::steady_clock::time_point deadline) const {
  // A descriptor of the process becomes readable the moment it ends, so the wait ends then too
  // instead of at the next look.
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  if (pidfd >= 0) {
    bool ended = false;
    for (;;) {
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd watched{pidfd, POLLIN, 0};
      const int ready = ::poll(&watched, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
      if (ready < 0 && errno == EINTR) continue;
      ended = ready > 0;
      break;
    }
    ::close(pidfd);
    return ended;
  }
  // Without process descriptors: look again and again, at growing intervals.
  auto pause = std::chrono::microseconds(200);
  for (;;) {
    siginfo_t info{};
    const int looked = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    // Ended, or not to be waited for at all (the reaping says so).
    if ((looked == 0 && info.si_pid == pid_) || (looked < 0 && errno != EINTR)) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

void KillRunningPrograms() {
  std::lock_guard<std::mutex> lock(running_mutex);
  for (pid_t pid : Running())
    ::kill(pid, SIGKILL);
}

}  // namespace qv
