#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace qv {

// A number as messages show offsets, lengths and CRCs: "0x" and upper-case hexadecimal digits,
// at least `digits` of them.
inline std::string Hex(uint64_t value, int digits = 0) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

// A text from outside data as a message or a terminal may show it: printable ASCII kept, every
// other byte, and the quote and backslash that would make the text ambiguous, as \xNN.
inline std::string PrintableText(std::string_view text) {
  std::string shown;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown;
}

}  // namespace qv
