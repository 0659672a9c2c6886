#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace qv {

// A number as messages show offsets, lengths and CRCs: "0x" and upper-case hexadecimal digits,
// at least `digits` of them.
inline std::string Hex(uint64_t value, int digits = 0) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

}  // namespace qv
