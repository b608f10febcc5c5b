#pragma once
// The run-time's texts for failed file operations, from the platform's error number.
#include <string>

#include "text/errors.h"

namespace qm {

// "File not found", "Invalid filename", "Too many open files", "File access denied",
// "Disk full", or "I/O error %d" with the error number.
std::string InOutErrorText(int errnoValue);

// The exception for a failed open, read or write, built from errno.
EInOutError InOutError(int errnoValue);

// The text of a read past the end of a file.
inline constexpr const char* kReadBeyondEndOfFile = "Read beyond end of file";

}  // namespace qm
