#include "store/sql.h"

#include <atomic>
#include <cctype>

#include "store/db_error.h"

namespace kiv::store {

namespace {

std::atomic<std::uint32_t> next_id{0};

[[noreturn]] void malformed(std::string_view text, const char* why) {
  throw DbError(Error{1, "程式的 SQL 有誤 (" + std::string(why) + "): " + std::string(text), true});
}

bool word_at(std::string_view text, std::size_t i, std::string_view word) {
  if (text.compare(i, word.size(), word) != 0) return false;
  if (i > 0 && (std::isalnum(static_cast<unsigned char>(text[i - 1])) != 0 || text[i - 1] == '_')) return false;
  return true;
}

class Renderer {
 public:
  Renderer(std::string_view text, Dialect dialect) : text_(text), dialect_(dialect) {}

  RenderedSql run() {
    out_.text = expression(0, text_.size());
    return std::move(out_);
  }

 private:
  // The index of the parenthesis that closes the one at `open`.
  std::size_t closing(std::size_t open) const {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = open; i < text_.size(); ++i) {
      const char c = text_[i];
      if (c == '\'') quoted = !quoted;
      if (quoted) continue;
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) return i;
    }
    malformed(text_, "unbalanced parenthesis");
  }

  // The comma at depth zero between `from` and `to`.
  std::size_t top_comma(std::size_t from, std::size_t to) const {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = from; i < to; ++i) {
      const char c = text_[i];
      if (c == '\'') quoted = !quoted;
      if (quoted) continue;
      if (c == '(') ++depth;
      if (c == ')') --depth;
      if (c == ',' && depth == 0) return i;
    }
    malformed(text_, "RIGHT needs two arguments");
  }

  std::string parameter(int number) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "?" + string.
    std::string marker(dialect_ == Dialect::file ? "?" : "$");
    if (dialect_ == Dialect::file) return marker.append(std::to_string(number));
    if (static_cast<std::size_t>(number) >= out_.slot.size())
      out_.slot.resize(static_cast<std::size_t>(number) + 1, -1);
    int& slot = out_.slot[static_cast<std::size_t>(number)];
    if (slot < 0) slot = out_.parameter_count++;
    return marker.append(std::to_string(slot + 1));
  }

  std::string expression(std::size_t from, std::size_t to) {
    std::string out;
    for (std::size_t i = from; i < to;) {
      const char c = text_[i];
      if (c == '\'') {  // a literal is copied as it stands
        const std::size_t end = text_.find('\'', i + 1);
        if (end == std::string_view::npos || end >= to) malformed(text_, "unterminated literal");
        out.append(text_.substr(i, end - i + 1));
        i = end + 1;
      } else if (c == '?') {
        std::size_t j = i + 1;
        int number = 0;
        while (j < to && std::isdigit(static_cast<unsigned char>(text_[j])) != 0)
          number = number * 10 + (text_[j++] - '0');
        if (j == i + 1 || number < 1) malformed(text_, "parameter without a number");
        out += parameter(number);
        i = j;
      } else if (word_at(text_, i, "CI(")) {
        const std::size_t open = i + 2;
        const std::size_t close = closing(open);
        const std::string inner = expression(open + 1, close);
        out += dialect_ == Dialect::file ? inner + " COLLATE NOCASE" : "lower((" + inner + ")::text COLLATE \"C\")";
        i = close + 1;
      } else if (word_at(text_, i, "RIGHT(")) {
        const std::size_t open = i + 5;
        const std::size_t close = closing(open);
        const std::size_t comma = top_comma(open + 1, close);
        const std::string what = expression(open + 1, comma);
        const std::string count = expression(comma + 1, close);
        out +=
            dialect_ == Dialect::file ? "substr(" + what + ",-(" + count + "))" : "right(" + what + "," + count + ")";
        i = close + 1;
      } else if (word_at(text_, i, "NULLSFIRST")) {
        if (dialect_ == Dialect::server) out += "NULLS FIRST";
        i += 10;
      } else {
        out += c;
        ++i;
      }
    }
    return out;
  }

  std::string_view text_;
  Dialect dialect_;
  RenderedSql out_;
};

}  // namespace

Sql::Sql(std::string text) : text_(std::move(text)), id_(next_id.fetch_add(1)) {}

RenderedSql render(std::string_view text, Dialect dialect) {
  return Renderer(text, dialect).run();
}

}  // namespace kiv::store
