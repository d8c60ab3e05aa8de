#pragma once

#include <cstdint>
#include <string>

namespace kiv {

// Error numbers the operator sees in the standard message. They keep the
// numbering the suite's operators and its other programs know.
inline constexpr std::int64_t kErrGeneralFailure = -2147467259;  // database cannot be opened
inline constexpr std::int64_t kErrOverflow = 6;
inline constexpr std::int64_t kErrTypeMismatch = 13;  // not a number, date or group
inline constexpr std::int64_t kErrFileNotFound = 53;  // a program that cannot be started
inline constexpr std::int64_t kErrDeviceUnavailable = 68;
inline constexpr std::int64_t kErrInvalidUseOfNull = 94;

// A failure as a value. `environmental` separates failures of the machine
// (busy, disk full, I/O, read-only, corrupt, out of memory) from failures
// caused by the values a line carries: the import run goes on after the
// latter and stops after the former.
struct Error {
  std::int64_t number = 0;
  std::string description;
  bool environmental = false;
};

// "錯誤:" + description + "(" + number + ")".
std::string standard_error_text(const Error& error);

}  // namespace kiv
