#include "platform/memory.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>

namespace qv {
namespace {

// Read-only data of the test program's own file, several pages long.
constexpr std::array<uint8_t, 5 * 4096 + 123> kBuiltIn = [] {
  std::array<uint8_t, 5 * 4096 + 123> bytes{};
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(i * 131 + 7);
  return bytes;
}();

uint64_t Sum(std::span<const uint8_t> bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), uint64_t{0},
                         [](uint64_t sum, uint8_t byte) { return sum * 31 + byte; });
}

// Released pages come back from the file as they were, whole or in part, aligned or not.
TEST(ReleaseProgramPages, TheBytesReadTheSameAfterwards) {
  const std::span<const uint8_t> all(kBuiltIn);
  const uint64_t before = Sum(all);
  ReleaseProgramPages(all);
  EXPECT_EQ(Sum(all), before);
  ReleaseProgramPages(all.subspan(1000, 5000));
  ReleaseProgramPages(all.subspan(17, 10));
  ReleaseProgramPages({});
  EXPECT_EQ(Sum(all), before);
}

}  // namespace
}  // namespace qv
