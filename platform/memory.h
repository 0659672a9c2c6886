#pragma once

// How the process's memory is kept.
namespace qv {

// Has the C library give every block of 128 KiB or more back to the system as soon as it is
// freed. By default it raises that bound to the largest block freed so far, so that once an
// image of megabytes has been freed, the next ones come from memory it keeps: a build, which
// holds several images of megabytes in turn, then stays at the sum of them all.
void ReturnLargeBlocksWhenFreed();

}  // namespace qv
