#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace qv::bench {

// Runs `work` `repetitions` times, each after an untimed `setup`, and returns the median
// wall time of `work` in seconds.
template <typename Setup, typename Work>
double MedianSeconds(int repetitions, Setup&& setup, Work&& work) {
  std::vector<double> times;
  for (int i = 0; i < repetitions; ++i) {
    setup();
    auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

template <typename Work>
double MedianSeconds(int repetitions, Work&& work) {
  return MedianSeconds(
      repetitions, [] {}, work);
}

inline double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One run of a program as a process.
struct ProcessRun {
  double wall_ms = -1;  // negative when the program could not start or did not exit with 0
  double cpu_ms = 0;    // user and system time
};

// Runs a program (found on PATH when the name has no slash) with its output discarded.
inline ProcessRun RunProcess(const std::vector<std::string>& command) {
  std::vector<std::string> words = command;
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return {};
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double wall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
  return {wall, ms(usage.ru_utime) + ms(usage.ru_stime)};
}

// The machine's load averages over 1, 5 and 15 minutes, as /proc/loadavg gives them.
inline std::string LoadAverage() {
  char text[64] = {};
  if (FILE* file = std::fopen("/proc/loadavg", "r")) {
    if (!std::fgets(text, sizeof text, file)) text[0] = 0;
    std::fclose(file);
  }
  std::string load(text);
  size_t end = 0;
  for (int field = 0; field < 3 && end != std::string::npos; ++field)
    end = load.find(' ', end + (field > 0));
  return load.substr(0, end);
}

}  // namespace qv::bench
