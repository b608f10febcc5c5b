#pragma once
// Exceptions whose message is the text the user sees in the error box.
#include <stdexcept>
#include <string>

namespace qm {

class EAppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Text that is not an integer: "'%s' is not a valid integer value".
class EConvertError : public EAppError {
 public:
  using EAppError::EAppError;
};

// A file that cannot be opened, read or written; the message is the run-time's error text.
class EInOutError : public EAppError {
 public:
  EInOutError(const std::string& message, int errorCode) : EAppError(message), ErrorCode(errorCode) {}
  int ErrorCode;
};

// "Cannot create file %s".
class EFCreateError : public EAppError {
 public:
  using EAppError::EAppError;
};

// "Unable to write to %s" (the settings file).
class EIniFileError : public EAppError {
 public:
  using EAppError::EAppError;
};

}  // namespace qm
