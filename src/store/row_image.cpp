#include "store/row_image.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "core/text.h"
#include "store/statement.h"

namespace kiv::store {

namespace {

char lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool is_utf8(std::string_view text) {
  std::size_t ascii = 0;
  while (ascii < text.size() && static_cast<unsigned char>(text[ascii]) < 0x80) ++ascii;
  for (std::size_t i = ascii; i < text.size();) {
    const std::size_t length = utf8_length_at(text, i);
    if (length == 0) return false;
    i += length;
  }
  return true;
}

void append_hex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
}

// A JSON string's contents; the text is valid UTF-8. Runs that need no
// escape are copied whole.
void append_escaped(std::string& out, std::string_view text) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b != '"' && b != '\\') continue;
    out.append(text.substr(run, i - run));
    if (b < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", b);
      out += buffer;
    } else {
      out += '\\';
      out += static_cast<char>(b);
    }
    run = i + 1;
  }
  out.append(text.substr(run));
}

void append_value(std::string& out, const Value& v) {
  switch (v.kind) {
    case ValueKind::null:
      out += "null";
      return;
    case ValueKind::integer:
      out += std::to_string(v.integer);
      return;
    case ValueKind::real: {
      char buffer[40];
      std::snprintf(buffer, sizeof buffer, "\"r:%.17g\"", v.real);
      out += buffer;
      return;
    }
    case ValueKind::decimal:
      out += "\"n:";
      append_escaped(out, v.bytes);
      break;
    case ValueKind::text:
      if (is_utf8(v.bytes)) {
        out += "\"t:";
        append_escaped(out, v.bytes);
      } else {
        out += "\"x:";
        append_hex(out, v.bytes);
      }
      break;
    case ValueKind::blob:
      out += "\"b:";
      append_hex(out, v.bytes);
      break;
  }
  out += '"';
}

// Reads the flat objects encode_image writes.
class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  // The values of an array, named by `named`'s columns.
  std::optional<RowImage> values(const RowImage& named) {
    RowImage out;
    out.reserve(named.size());
    if (!eat('[')) return std::nullopt;
    if (!eat(']')) {
      do {
        auto value = this->value();
        if (!value || out.size() == named.size()) return std::nullopt;
        out.push_back(Field{named[out.size()].name, std::move(*value)});
      } while (eat(','));
      if (!eat(']')) return std::nullopt;
    }
    if (!at_end() || out.size() != named.size()) return std::nullopt;
    return out;
  }

  std::optional<RowImage> image() {
    RowImage out;
    if (!eat('{')) return std::nullopt;
    if (eat('}')) return at_end() ? std::optional(out) : std::nullopt;
    do {
      Field field;
      auto name = string();
      if (!name || !eat(':')) return std::nullopt;
      field.name = std::move(*name);
      auto value = this->value();
      if (!value) return std::nullopt;
      field.value = std::move(*value);
      out.push_back(std::move(field));
    } while (eat(','));
    if (!eat('}') || !at_end()) return std::nullopt;
    return out;
  }

 private:
  bool at_end() const { return pos_ == text_.size(); }
  bool eat(char c) {
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  static int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  static std::optional<std::string> unhex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      const int high = hex_digit(hex[i]), low = hex_digit(hex[i + 1]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
    }
    return out;
  }

  // A JSON string as encode_image writes it: only \" \\ and \u00XX escapes.
  std::optional<std::string> string() {
    if (!eat('"')) return std::nullopt;
    std::string out;
    while (pos_ < text_.size() && text_[pos_] != '"') {
      char c = text_[pos_++];
      if (c == '\\') {
        if (pos_ >= text_.size()) return std::nullopt;
        c = text_[pos_++];
        if (c == 'u') {
          if (pos_ + 4 > text_.size() || text_.substr(pos_, 2) != "00") return std::nullopt;
          const int high = hex_digit(text_[pos_ + 2]), low = hex_digit(text_[pos_ + 3]);
          if (high < 0 || low < 0) return std::nullopt;
          c = static_cast<char>(high * 16 + low);
          pos_ += 4;
        } else if (c != '"' && c != '\\') {
          return std::nullopt;
        }
      }
      out += c;
    }
    if (!eat('"')) return std::nullopt;
    return out;
  }

  std::optional<Value> value() {
    if (text_.substr(pos_, 4) == "null") {
      pos_ += 4;
      return Value{};
    }
    if (pos_ < text_.size() && text_[pos_] != '"') {
      const std::size_t start = pos_;
      if (text_[pos_] == '-') ++pos_;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
      const std::string digits(text_.substr(start, pos_ - start));
      if (digits.empty() || digits == "-") return std::nullopt;
      errno = 0;
      char* end = nullptr;
      const long long number = std::strtoll(digits.c_str(), &end, 10);
      if (errno != 0 || *end != '\0') return std::nullopt;
      return Value::of_integer(number);
    }
    auto tagged = string();
    if (!tagged || tagged->size() < 2 || (*tagged)[1] != ':') return std::nullopt;
    const std::string_view body = std::string_view(*tagged).substr(2);
    Value v;
    switch ((*tagged)[0]) {
      case 't':
        v.kind = ValueKind::text;
        v.bytes = body;
        return v;
      case 'n':
        v.kind = ValueKind::decimal;
        v.bytes = body;
        return v;
      case 'x':
      case 'b': {
        auto bytes = unhex(body);
        if (!bytes) return std::nullopt;
        v.kind = (*tagged)[0] == 'x' ? ValueKind::text : ValueKind::blob;
        v.bytes = std::move(*bytes);
        return v;
      }
      case 'r': {
        const std::string digits(body);
        char* end = nullptr;
        v.kind = ValueKind::real;
        v.real = std::strtod(digits.c_str(), &end);
        if (digits.empty() || *end != '\0') return std::nullopt;
        return v;
      }
      default:
        return std::nullopt;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

bool Value::operator==(const Value& other) const {
  if (kind != other.kind) return false;
  switch (kind) {
    case ValueKind::null:
      return true;
    case ValueKind::integer:
      return integer == other.integer;
    case ValueKind::real:
      // Compared as written back: the same 17 digits are the same double.
      return encode_value(*this) == encode_value(other);
    case ValueKind::decimal:
    case ValueKind::text:
    case ValueKind::blob:
      break;
  }
  return bytes == other.bytes;
}

std::vector<std::string> image_columns(const Statement& st, int first_column) {
  std::vector<std::string> names(static_cast<std::size_t>(std::max(st.column_count(), 0)));
  for (int column = first_column; column < st.column_count(); ++column) {
    std::string name = st.column_name(column);
    if (!same_name(name, "rowid")) names[static_cast<std::size_t>(column)] = std::move(name);
  }
  return names;
}

RowImage read_image(const Statement& st, int first_column, const std::vector<std::string>& names) {
  RowImage image;
  image.reserve(names.size());
  for (int column = first_column; column < static_cast<int>(names.size()); ++column) {
    const std::string& name = names[static_cast<std::size_t>(column)];
    if (!name.empty()) image.push_back(Field{name, st.value(column)});
  }
  return image;
}

RowImage read_image(const Statement& st, int first_column) {
  return read_image(st, first_column, image_columns(st, first_column));
}

std::string encode_value(const Value& value) {
  std::string out;
  append_value(out, value);
  return out;
}

namespace {

// An image as an object of named values, or as an array of its values alone.
std::string encode_fields(const RowImage& image, bool with_names) {
  std::size_t room = 2;
  for (const Field& field : image) room += (with_names ? field.name.size() + 4 : 0) + field.value.bytes.size() + 8;
  std::string out;
  out.reserve(room);
  out += with_names ? '{' : '[';
  for (const Field& field : image) {
    if (out.size() > 1) out += ',';
    if (with_names) {
      out += '"';
      append_escaped(out, field.name);
      out += "\":";
    }
    append_value(out, field.value);
  }
  out += with_names ? '}' : ']';
  return out;
}

}  // namespace

std::string encode_image(const RowImage& image) {
  return encode_fields(image, true);
}

std::optional<RowImage> decode_image(std::string_view text) {
  return Parser(text).image();
}

std::string encode_values(const RowImage& image) {
  return encode_fields(image, false);
}

std::optional<RowImage> decode_values(std::string_view text, const RowImage& named) {
  return Parser(text).values(named);
}

const Field* field_named(const RowImage& image, std::string_view name) {
  for (const Field& field : image) {
    if (same_name(field.name, name)) return &field;
  }
  return nullptr;
}

RowImage changed_fields(const RowImage& before, const RowImage& after) {
  RowImage changed;
  for (std::size_t i = 0; i < after.size(); ++i) {
    const Field& field = after[i];
    // Images of one table list their columns alike: look in the same place first.
    const Field* old = i < before.size() && before[i].name == field.name ? &before[i] : field_named(before, field.name);
    if (old == nullptr || !(old->value == field.value)) changed.push_back(field);
  }
  return changed;
}

RowImage overlay(RowImage base, const RowImage& changes) {
  for (const Field& change : changes) {
    bool found = false;
    for (Field& field : base) {
      if (same_name(field.name, change.name)) {
        field.value = change.value;
        found = true;
        break;
      }
    }
    if (!found) base.push_back(change);
  }
  return base;
}

}  // namespace kiv::store
