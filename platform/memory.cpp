#include "platform/memory.h"

#include <malloc.h>

namespace qv {

void ReturnLargeBlocksWhenFreed() {
  // Setting the bound at all stops the library from moving it.
  constexpr int kLargeBlock = 128 * 1024;
  mallopt(M_MMAP_THRESHOLD, kLargeBlock);
  mallopt(M_TRIM_THRESHOLD, kLargeBlock);
}

}  // namespace qv
