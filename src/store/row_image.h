#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/backend.h"

namespace kiv::store {

class Statement;

// One value as the store holds it, kind included, so that it can be written
// back exactly: a number stays a number, a text stays a text byte for byte.
struct Value {
  ValueKind kind = ValueKind::null;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;  // the text, the decimal's digits or the blob's bytes

  static Value of_integer(std::int64_t v) { return Value{ValueKind::integer, v, 0, {}}; }
  static Value of_text(std::string_view v) { return Value{ValueKind::text, 0, 0, std::string(v)}; }
  bool operator==(const Value& other) const;
};

struct Field {
  std::string name;
  Value value;
  bool operator==(const Field&) const = default;
};

// A row's columns in the table's order.
using RowImage = std::vector<Field>;

// The columns of the statement's current row from `first_column` on. A
// column named rowid among them (the server keeps the insertion order in
// one) is the row's place, not its content, and is left out.
RowImage read_image(const Statement& st, int first_column);

// An image as a flat JSON object, column -> value: null, a whole number as a
// number, and every other value a string tagged with its kind: "t:" text
// (UTF-8, escaped as JSON), "x:" text that is not UTF-8 and "b:" bytes (both
// in hex), "r:" a double (17 digits) and "n:" an exact decimal.
std::string encode_image(const RowImage& image);
// nullopt when the text is not such an object.
std::optional<RowImage> decode_image(std::string_view text);

// One value in the same form, for keys.
std::string encode_value(const Value& value);

// The fields of `after` whose values differ from `before`'s (all of them for
// a column `before` lacks).
RowImage changed_fields(const RowImage& before, const RowImage& after);
// `base` with `changes` written over it.
RowImage overlay(RowImage base, const RowImage& changes);
// The field named `name` (ASCII case ignored), or nullptr.
const Field* field_named(const RowImage& image, std::string_view name);

}  // namespace kiv::store
