#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/backend.h"

namespace kiv::store {

class Statement;

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
// The same with the statement's column names read before (`names[c]` for
// column c, empty for a column left out), as a capture reads many rows of one
// statement.
RowImage read_image(const Statement& st, int first_column, const std::vector<std::string>& names);
std::vector<std::string> image_columns(const Statement& st, int first_column);

// An image as a flat JSON object, column -> value: null, a whole number as a
// number, and every other value a string tagged with its kind: "t:" text
// (UTF-8, escaped as JSON), "x:" text that is not UTF-8 and "b:" bytes (both
// in hex), "r:" a double (17 digits) and "n:" an exact decimal.
std::string encode_image(const RowImage& image);
// nullopt when the text is not such an object.
std::optional<RowImage> decode_image(std::string_view text);

// The image's values alone, in its column order, as a JSON array of values
// in the same form: how the journal keeps a whole row once an image of the
// same table with its column names is kept beside it (the names are most of
// an object's bytes, and every byte the journal writes is encrypted).
std::string encode_values(const RowImage& image);
// The array's values named by `named`'s columns, in order; nullopt when the
// text is not such an array or holds another number of values.
std::optional<RowImage> decode_values(std::string_view text, const RowImage& named);

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
