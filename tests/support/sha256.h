#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// SHA-256 (FIPS 180-4) for the tests that record what the programs write: the digest of a
// file or a text, as 64 lowercase hexadecimal digits.
namespace qv::testing {

std::string Sha256Hex(std::span<const uint8_t> bytes);
std::string Sha256Hex(std::string_view text);

}  // namespace qv::testing
