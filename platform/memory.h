#pragma once

#include <cstdint>
#include <span>

// How the process's memory is kept.
namespace qv {

// Has the C library give every block of 128 KiB or more back to the system as soon as it is
// freed. By default it raises that bound to the largest block freed so far, so that once an
// image of megabytes has been freed, the next ones come from memory it keeps: a build, which
// holds several images of megabytes in turn, then stays at the sum of them all.
void ReturnLargeBlocksWhenFreed();

// Lets the pages wholly inside `bytes`, a read-only part of the program's own file (data built
// into the program), leave the process's resident set once they have been used; they are read
// from the file again if they are ever used again.
void ReleaseProgramPages(std::span<const uint8_t> bytes);

}  // namespace qv
