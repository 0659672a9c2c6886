#pragma once

#include <string>

namespace qv {

// The working directory must exist to take the working files: a directory that does not
// raises the run-time input/output error.
void CheckWorkingDirectory(const std::string& directory);

}  // namespace qv
