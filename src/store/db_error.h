#pragma once

#include <stdexcept>

#include "core/error.h"

namespace kiv::store {

// Thrown inside the store; operations catch it at their edge and hand an
// Error value to their caller.
class DbError : public std::runtime_error {
 public:
  explicit DbError(Error error) : std::runtime_error(error.description), error_(std::move(error)) {}
  const Error& error() const { return error_; }

 private:
  Error error_;
};

[[noreturn]] inline void throw_type_mismatch(const std::string& what) {
  throw DbError(Error{kErrTypeMismatch, "型態不符合: " + what, false});
}

inline Error invalid_null_error(const std::string& column) {
  return Error{kErrInvalidUseOfNull, "不正確的使用 Null: " + column, false};
}

[[noreturn]] inline void throw_invalid_null(const std::string& column) {
  throw DbError(invalid_null_error(column));
}

}  // namespace kiv::store
