#include "store/backend.h"

#include <cstdio>

#include "store/db_error.h"

namespace kiv::store {

void Cursor::bind_real(int index, double value) {
  // Seventeen significant digits read back as the very same double.
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  bind_text(index, text);
}

Value Cursor::value(int column) const {
  Value v;
  v.kind = kind(column);
  switch (v.kind) {
    case ValueKind::null:
      break;
    case ValueKind::integer:
      v.integer = integer(column);
      break;
    case ValueKind::real:
      v.real = real(column);
      break;
    case ValueKind::decimal:
    case ValueKind::text:
    case ValueKind::blob:
      v.bytes = text(column);
      break;
  }
  return v;
}

void Cursor::bind_blob(int index, std::string_view /*bytes*/) {
  throw DbError(Error{kErrTypeMismatch, "參數 " + std::to_string(index) + ": 此資料庫不存放位元組資料", false});
}

}  // namespace kiv::store
