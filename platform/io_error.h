#pragma once

#include <stdexcept>
#include <string>

namespace qv {

// The run-time input/output error. Workflows let it propagate; only a front end's top-level
// handler catches it and shows its text ("File not found", "File access denied",
// "Invalid filename" or "I/O error <code>").
class IoError : public std::runtime_error {
 public:
  explicit IoError(const std::string& text) : std::runtime_error(text) {}

  // The error for a failed system call, from its errno value.
  static IoError FromErrno(int error_number);
};

}  // namespace qv
