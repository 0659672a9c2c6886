#pragma once

#include <string>

// A directory that belongs to one job alone: made afresh, readable and writable by its owner
// only, and removed with everything in it when the object goes. Nothing in it existed before
// the job, so nothing another user planted can be run or read from it.
namespace qv {

class JobDirectory {
 public:
  // Makes "quorvane-job-XXXXXX" in `parent`; an empty parent means $XDG_RUNTIME_DIR when it
  // names a directory, else the system's temporary directory. Raises IoError.
  static JobDirectory Make(const std::string& parent = "");

  JobDirectory(JobDirectory&& other) noexcept;
  JobDirectory& operator=(JobDirectory&& other) noexcept;
  JobDirectory(const JobDirectory&) = delete;
  JobDirectory& operator=(const JobDirectory&) = delete;
  ~JobDirectory();

  // The directory with its trailing separator.
  const std::string& path() const { return path_; }

  // Removes everything in the directory, and keeps the directory.
  void Empty() const;

 private:
  explicit JobDirectory(std::string path) : path_(std::move(path)) {}
  void Remove();

  std::string path_;
};

// From this call on, an interrupt, termination or hang-up signal removes every job directory of
// the process before the process ends by it, as a finished job would. Call it early in main,
// before any other thread starts: it holds those signals back from every thread and takes them
// in a thread of its own.
void RemoveJobDirectoriesOnSignal();

}  // namespace qv
