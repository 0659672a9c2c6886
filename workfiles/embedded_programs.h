#pragma once

#include <cstdint>
#include <span>

// The two converter programs, built with the tool and held inside it, so that opening an
// image can write them into the working directory.
namespace qv {

std::span<const uint8_t> BinToDldProgramBytes();
std::span<const uint8_t> FormatSwitchProgramBytes();

}  // namespace qv
