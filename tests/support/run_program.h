#pragma once

#include <string>
#include <vector>

namespace qv::testing {

struct ProgramRun {
  int exit_status = -1;  // -1: could not start, or ran past its time and was ended
  std::string output;    // standard output
  std::string errors;    // standard error
};

// Starts `arguments[0]` (a path, or a name searched on PATH) with the rest as its arguments,
// in `directory` when not empty, waits for it (at most two minutes) and returns what it printed.
ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& directory = "");

// The path of a program of this build: build/bin/<name>.
std::string ProgramPath(const std::string& name);

}  // namespace qv::testing
