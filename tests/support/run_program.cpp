#include "tests/support/run_program.h"

#include <chrono>

#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/temp_dir.h"

namespace qv::testing {

std::string ProgramPath(const std::string& name) { return std::string(QUORVANE_BIN_DIR) + "/" + name; }

ProgramRun RunProgram(const std::string& name, const std::vector<std::string>& arguments,
                      const std::string& directory) {
  TempDir scratch;
  std::string output_path = scratch.File("output.txt");
  ProgramRun run;
  std::optional<Process> process = Process::Start(ProgramPath(name), arguments, directory, output_path);
  if (!process) return run;
  run.status = process->WaitFor(std::chrono::minutes(2)).value_or(-1);
  std::vector<uint8_t> bytes = ReadWholeFile(output_path);
  run.output.assign(bytes.begin(), bytes.end());
  return run;
}

}  // namespace qv::testing
