#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// SHA-256 (FIPS 180-4): the digest of a file's bytes or a text, as 64 lowercase hexadecimal
// digits, as extraction manifests record them.
namespace qv {

std::string Sha256Hex(std::span<const uint8_t> bytes);
std::string Sha256Hex(std::string_view text);

}  // namespace qv
