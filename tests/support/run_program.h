#pragma once

#include <string>
#include <vector>

namespace qv::testing {

struct ProgramRun {
  int status = -1;     // exit status; -1 when the program could not start or ran past its time
  std::string output;  // standard output and standard error together
};

// Runs a program of this build (build/bin/<name>) with `arguments` in `directory`, waits for
// it (at most two minutes) and returns what it printed.
ProgramRun RunProgram(const std::string& name, const std::vector<std::string>& arguments,
                      const std::string& directory);

// The path of a program of this build.
std::string ProgramPath(const std::string& name);

}  // namespace qv::testing
