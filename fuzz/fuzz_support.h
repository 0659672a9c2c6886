#pragma once

#include <string>

// Helpers shared by the fuzz targets.
namespace qv::fuzz {

// A private directory for the whole run, on a memory file system when there is one, with its
// trailing '/'. Removed with everything in it when the process exits normally.
const std::string& ScratchDirectory();

}  // namespace qv::fuzz
