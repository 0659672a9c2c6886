#pragma once

#include <algorithm>
#include <chrono>
#include <vector>

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

}  // namespace qv::bench
