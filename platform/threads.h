#pragma once

#include <system_error>
#include <thread>
#include <vector>

namespace qv {

// Runs work() on `count` threads at once, the calling one among them, and returns when all
// have returned; on fewer when no more threads can be started (the ones running share what
// there is to do, so `work` must take its share from a common supply until it runs out).
template <typename Work>
void RunOnThreads(unsigned count, Work&& work) {
  std::vector<std::thread> helpers;
  try {
    for (unsigned t = 1; t < count; ++t)
      helpers.emplace_back(work);
  } catch (const std::system_error&) {
    // No more threads to be had: the ones started and this one share the work.
  }
  work();
  for (std::thread& helper : helpers)
    helper.join();
}

}  // namespace qv
