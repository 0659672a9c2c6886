#pragma once

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/threads.h"

namespace qv::formatswitch {

// The number of threads ForEachIndependent spreads work over, the calling one included; 0
// (the default) for one per core of the processor, at most four. The output must not depend
// on it: tests set it to check that.
inline std::atomic<unsigned> g_row_threads{0};

// Runs work(item) for every item, spread over the processor's cores (at most four threads,
// or g_row_threads when set). The items must be independent of each other.
template <typename Work>
void ForEachIndependent(const std::vector<int>& items, Work&& work) {
  const unsigned limit = g_row_threads.load();
  const unsigned cores =
      limit ? limit : std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  const size_t threads = std::min<size_t>(cores, items.size());
  if (threads <= 1) {
    for (int item : items)
      work(item);
    return;
  }
  std::atomic<size_t> next{0};
  RunOnThreads(static_cast<unsigned>(threads), [&] {
    for (size_t i; (i = next.fetch_add(1)) < items.size();)
      work(items[i]);
  });
}

}  // namespace qv::formatswitch
