#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// Starting a program and waiting for it. Programs are started with an argument list, never
// through a command interpreter, so no name can ever run a command.
namespace qv {

class Process {
 public:
  // Starts `program` with `arguments` (argv[1] on), in `directory`, with no terminal: its
  // standard input reads nothing, its standard output goes to `output_path` and its standard
  // error to `error_path` (nowhere when empty; the output's file when `error_path` equals it).
  // Returns nothing when the program cannot be started.
  static std::optional<Process> Start(const std::string& program,
                                      const std::vector<std::string>& arguments,
                                      const std::string& directory,
                                      const std::string& output_path = "",
                                      const std::string& error_path = "");

  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();  // a process still running is ended and reaped

  // Waits until the program ends or `limit` passes. Returns its exit status (a signal that
  // ended it counts as 128 + the signal), or nothing when the limit passed; the process is
  // then ended.
  std::optional<int> WaitFor(std::chrono::milliseconds limit);

 private:
  explicit Process(int pid) : pid_(pid) {}
  // True once the process has ended (it is left to be reaped), false when the deadline passed.
  bool WaitUntilEnded(std::chrono::steady_clock::time_point deadline) const;
  void Kill();
  int pid_ = -1;
};

// Ends every program this process started and has not yet waited for, at once. For the end of
// the process by a signal: a converter left running would go on writing into its job's
// directory.
void KillRunningPrograms();

}  // namespace qv
