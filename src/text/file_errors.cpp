#include "text/file_errors.h"

#include <cerrno>

namespace qm {

std::string InOutErrorText(int errnoValue) {
  switch (errnoValue) {
    case ENOENT:
      return "File not found";
    case ENOTDIR:
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ:
      return "Invalid filename";
    case EMFILE:
    case ENFILE:
      return "Too many open files";
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
      return "File access denied";
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return "Disk full";
    default:
      return "I/O error " + std::to_string(errnoValue);
  }
}

EInOutError InOutError(int errnoValue) { return EInOutError(InOutErrorText(errnoValue), errnoValue); }

}  // namespace qm
