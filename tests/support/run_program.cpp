#include "tests/support/run_program.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <unistd.h>

#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace qv::testing {

namespace {

// A name without a directory is looked up on PATH, as a shell would.
std::string Locate(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::string directories = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= directories.size();) {
    size_t end = directories.find(':', start);
    if (end == std::string::npos) end = directories.size();
    std::filesystem::path candidate =
        std::filesystem::path(directories.substr(start, end - start)) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
    start = end + 1;
  }
  return program;
}

std::string Text(const std::string& path) {
  if (!FileExists(path)) return {};
  std::vector<uint8_t> bytes = ReadWholeFile(path);
  return {bytes.begin(), bytes.end()};
}

}  // namespace

std::string ProgramPath(const std::string& name) {
  return std::string(QUORVANE_BIN_DIR) + "/" + name;
}

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::string& directory) {
  ProgramRun run;
  if (arguments.empty()) return run;
  TempDir scratch;
  std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
  std::optional<Process> process = Process::Start(Locate(arguments[0]), rest, directory,
                                                  scratch.File("output"), scratch.File("errors"));
  if (!process) return run;
  run.exit_status = process->WaitFor(std::chrono::minutes(2)).value_or(-1);
  run.output = Text(scratch.File("output"));
  run.errors = Text(scratch.File("errors"));
  return run;
}

}  // namespace qv::testing
