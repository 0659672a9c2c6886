#include "platform/io_error.h"

#include <cerrno>

namespace qv {

IoError IoError::FromErrno(int error_number) {
  switch (error_number) {
    case ENOENT:
      return IoError("File not found");
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
      return IoError("File access denied");
    case ENAMETOOLONG:
    case ENOTDIR:
    case EISDIR:
    case EINVAL:
    case ELOOP:
      return IoError("Invalid filename");
    default:
      return IoError("I/O error " + std::to_string(error_number));
  }
}

}  // namespace qv
