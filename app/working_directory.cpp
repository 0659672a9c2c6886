#include "app/working_directory.h"

#include <filesystem>

#include "platform/io_error.h"

namespace qv {

void CheckWorkingDirectory(const std::string& directory) {
  std::error_code error;
  if (!std::filesystem::is_directory(directory, error)) {
    throw error ? IoError::FromErrno(error.value()) : IoError("File not found");
  }
}

}  // namespace qv
