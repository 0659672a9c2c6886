#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "image/manufacturer_block.h"

// Whether the box's identity survives the way into a download header: the bin-to-download
// converter reads it from manufacturer.cfg, where a blank, tab or carriage return ends a value,
// brackets and equals signs are syntax, and an empty value takes the next characters of its
// line. A text holding one of them would arrive cut, or shift the fields after it.
namespace qv {

// The name of the first identity field (IDENT_NOCHECH, MANUFACTURE_IDENT, HARDWARE_MODULE,
// HARDWARE_VERSION, SOFTWARE_MODULE, SOFTWARE_VERSION, STB_ID) that the converter, reading the
// block's manufacturer.cfg lines, would not put into the download header as the block holds it
// (a text up to its first zero byte); nothing when every field arrives whole.
std::optional<std::string> FieldTheHeaderCannotCarry(const ManufacturerBlock& block);

// The identity fields as the download header payload holds them: bytes 0 to 55 of the block's
// layout, a text field followed by zero bytes after its text.
std::array<uint8_t, 56> HeaderIdentity(const ManufacturerBlock& block);

}  // namespace qv
