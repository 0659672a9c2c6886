#pragma once

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

namespace qv::formatswitch {

// Runs work(item) for every item, spread over the processor's cores (at most four threads).
// The items must be independent of each other.
template <typename Work>
void ForEachIndependent(const std::vector<int>& items, Work&& work) {
  const unsigned cores = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  const size_t threads = std::min<size_t>(cores, items.size());
  if (threads <= 1) {
    for (int item : items)
      work(item);
    return;
  }
  std::atomic<size_t> next{0};
  auto run = [&] {
    for (size_t i; (i = next.fetch_add(1)) < items.size();)
      work(items[i]);
  };
  std::vector<std::thread> helpers;
  try {
    for (size_t t = 1; t < threads; ++t)
      helpers.emplace_back(run);
  } catch (const std::system_error&) {
    // No more threads to be had: the ones started and this one share the work.
  }
  run();
  for (std::thread& helper : helpers)
    helper.join();
}

}  // namespace qv::formatswitch
