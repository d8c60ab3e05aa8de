#include "store/write_shape.h"

#include <cctype>

#include "store/db_error.h"
#include "store/suite_schema.h"

namespace kiv::store {

namespace {

[[noreturn]] void unreadable(std::string_view sql, const char* why) {
  throw DbError(Error{1, "程式的 SQL 無法記入日誌 (" + std::string(why) + "): " + std::string(sql), true});
}

bool is_word_char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool same_ascii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  void skip_blanks() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_])) != 0) ++pos_;
  }
  // The next word (letters, digits, _), or "" when none comes next.
  std::string_view word() {
    skip_blanks();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && is_word_char(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  bool keyword(std::string_view expected) {
    const std::size_t saved = pos_;
    if (same_ascii(word(), expected)) return true;
    pos_ = saved;
    return false;
  }
  bool eat(char c) {
    skip_blanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  // Past the parenthesis that closes the one just eaten.
  bool skip_group() {
    int depth = 1;
    bool quoted = false;
    for (; pos_ < text_.size(); ++pos_) {
      const char c = text_[pos_];
      if (c == '\'') quoted = !quoted;
      if (quoted) continue;
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) {
        ++pos_;
        return true;
      }
    }
    return false;
  }
  // Where the word `keyword` stands at depth zero outside literals from here
  // on, or npos.
  std::size_t find_top_level(std::string_view keyword) const {
    int depth = 0;
    bool quoted = false;
    for (std::size_t i = pos_; i < text_.size(); ++i) {
      const char c = text_[i];
      if (c == '\'') quoted = !quoted;
      if (quoted) continue;
      if (c == '(') ++depth;
      if (c == ')') --depth;
      if (depth != 0 || (i > 0 && is_word_char(text_[i - 1]))) continue;
      const std::size_t end = i + keyword.size();
      if (end <= text_.size() && same_ascii(text_.substr(i, keyword.size()), keyword) &&
          (end == text_.size() || !is_word_char(text_[end]))) {
        return i;
      }
    }
    return std::string_view::npos;
  }
  bool at_end() {
    skip_blanks();
    while (pos_ < text_.size() && text_[pos_] == ';') {
      ++pos_;
      skip_blanks();
    }
    return pos_ == text_.size();
  }
  std::size_t pos() const { return pos_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

std::string canonical_table(std::string_view name) {
  for (const SuiteTable& table : suite_tables()) {
    if (same_ascii(table.name, name)) return std::string(table.name);
  }
  return std::string(name);
}

std::vector<int> parameters_in(std::string_view text) {
  std::vector<int> numbers;
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\'') quoted = !quoted;
    if (quoted || text[i] != '?') continue;
    int number = 0;
    std::size_t j = i + 1;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j])) != 0)
      number = number * 10 + (text[j++] - '0');
    bool seen = false;
    for (const int n : numbers) seen = seen || n == number;
    if (number > 0 && !seen) numbers.push_back(number);
  }
  return numbers;
}

// The condition from the top-level "where" on, to the end of the statement.
void read_condition(Reader& reader, std::string_view sql, WriteShape& shape) {
  const std::size_t where = reader.find_top_level("where");
  if (where == std::string_view::npos) return;
  std::string_view condition = sql.substr(where);
  while (!condition.empty() &&
         (condition.back() == ';' || std::isspace(static_cast<unsigned char>(condition.back())) != 0)) {
    condition.remove_suffix(1);
  }
  shape.condition.assign(1, ' ');
  shape.condition.append(condition);
  shape.condition_parameters = parameters_in(condition);
}

}  // namespace

WriteShape write_shape(std::string_view sql) {
  Reader reader(sql);
  WriteShape shape;
  const std::string_view verb = reader.word();
  if (same_ascii(verb, "update")) {
    shape.kind = WriteKind::update;
    if (reader.keyword("or")) unreadable(sql, "update or ...");
    shape.table = canonical_table(reader.word());
    if (shape.table.empty() || !reader.keyword("set")) unreadable(sql, "update without a table");
    read_condition(reader, sql, shape);
  } else if (same_ascii(verb, "delete")) {
    shape.kind = WriteKind::remove;
    if (!reader.keyword("from")) unreadable(sql, "delete without from");
    shape.table = canonical_table(reader.word());
    if (shape.table.empty()) unreadable(sql, "delete without a table");
    read_condition(reader, sql, shape);
  } else if (same_ascii(verb, "insert")) {
    shape.kind = WriteKind::insert;
    if (!reader.keyword("into")) unreadable(sql, "insert or ...");
    shape.table = canonical_table(reader.word());
    if (shape.table.empty()) unreadable(sql, "insert without a table");
    if (reader.eat('(') && !reader.skip_group()) unreadable(sql, "unbalanced parenthesis");
    if (!reader.keyword("values") || !reader.eat('(') || !reader.skip_group() || !reader.at_end()) {
      unreadable(sql, "an insert of other than one row of values");
    }
  } else if (same_ascii(verb, "replace") || same_ascii(verb, "upsert") || same_ascii(verb, "merge")) {
    unreadable(sql, "replace");
  }
  return shape;
}

}  // namespace kiv::store
