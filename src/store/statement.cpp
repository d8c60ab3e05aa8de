#include "store/statement.h"

#include <cmath>

#include "core/text.h"
#include "store/backend.h"
#include "store/db_error.h"
#include "store/row_capture.h"
#include "store/row_image.h"
#include "store/values.h"

namespace kiv::store {

namespace {

constexpr std::int64_t kLargestWhole = 90'000'000'000'000'000LL;

// Exact decimal text as a store delivers it ("1500", "-3.125"), rounded to the
// nearest hundredth, a half away from zero.
std::optional<Cents> rounded_cents(std::string_view text) {
  std::size_t i = 0;
  const bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  std::int64_t cents = 0;
  bool digits = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, digits = true) {
    cents = cents * 10 + (text[i] - '0');
    if (cents > kLargestWhole) return std::nullopt;
  }
  cents *= 100;
  if (i < text.size() && text[i] == '.') {
    ++i;
    std::int64_t scale = 10;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, digits = true) {
      const int digit = text[i] - '0';
      if (scale >= 1) {
        cents += digit * scale;
        scale /= 10;
      } else if (scale == 0) {
        if (digit >= 5) ++cents;
        scale = -1;  // only the first digit past the hundredths decides
      }
    }
  }
  if (i != text.size() || !digits) return std::nullopt;
  return negative ? -cents : cents;
}

}  // namespace

Statement::Statement(Connection& connection, const Sql& sql) {
  Backend& backend = connection.backend();
  if (sql.id() >= backend.cache.size()) backend.cache.resize(sql.id() + 1);
  std::unique_ptr<Cursor>& kept = backend.cache[sql.id()];
  if (!kept) kept = backend.prepare(render(sql.text(), backend.dialect()), true);
  if (kept->in_use) {
    // The same statement is already open further up: this use gets its own.
    own_ = backend.prepare(render(sql.text(), backend.dialect()), false);
    cursor_ = own_.get();
  } else {
    cursor_ = kept.get();
  }
  cursor_->in_use = true;
  if (RowCapture* capture = connection.capture(); capture != nullptr && capture->in_line()) {
    watch(capture, capture->shape_of(sql));
  }
}

Statement::Statement(Connection& connection, std::string_view sql)
    : own_(connection.backend().prepare(render(sql, connection.dialect()), false)) {
  cursor_ = own_.get();
  cursor_->in_use = true;
  if (RowCapture* capture = connection.capture(); capture != nullptr && capture->in_line()) {
    watch(capture, capture->shape_of(sql));
  }
}

void Statement::watch(RowCapture* capture, const WatchedWrite& write) {
  if (write.shape.kind == WriteKind::none) return;
  capture_ = capture;
  write_ = &write;
}

void Statement::remember(int index, Value value) {
  if (index < 1) return;
  if (bound_.size() <= static_cast<std::size_t>(index)) bound_.resize(static_cast<std::size_t>(index) + 1);
  bound_[static_cast<std::size_t>(index)] = std::move(value);
}

Statement::~Statement() {
  cursor_->reset();
  cursor_->in_use = false;
}

Statement& Statement::bind(int index, std::string_view text) {
  cursor_->bind_text(index, text);
  if (capture_ != nullptr) remember(index, Value::of_text(text));
  return *this;
}

Statement& Statement::bind(int index, std::int64_t value) {
  cursor_->bind_int(index, value);
  if (capture_ != nullptr) remember(index, Value::of_integer(value));
  return *this;
}

Statement& Statement::bind_null(int index) {
  cursor_->bind_null(index);
  if (capture_ != nullptr) remember(index, Value{});
  return *this;
}

Statement& Statement::bind(int index, const Value& value) {
  switch (value.kind) {
    case ValueKind::null:
      cursor_->bind_null(index);
      break;
    case ValueKind::integer:
      cursor_->bind_int(index, value.integer);
      break;
    case ValueKind::real:
      cursor_->bind_real(index, value.real);
      break;
    case ValueKind::decimal:
    case ValueKind::text:
      cursor_->bind_text(index, value.bytes);
      break;
    case ValueKind::blob:
      cursor_->bind_blob(index, value.bytes);
      break;
  }
  if (capture_ != nullptr) remember(index, value);
  return *this;
}

bool Statement::step() {
  if (capture_ == nullptr) return cursor_->step();
  if (!started_) {
    started_ = true;
    capture_->before_write(*write_, bound_);
  }
  const bool row = cursor_->step();
  if (!row && write_->shape.kind == WriteKind::insert) capture_->inserted(*write_, cursor_->inserted_rowid());
  return row;
}

std::int64_t Statement::run() {
  while (step()) {
  }
  return cursor_->changes();
}

void Statement::run_later() {
  // A journalled write must be seen before and after, so it cannot wait.
  if (capture_ != nullptr) {
    run();
    return;
  }
  cursor_->run_later();
}

void Statement::reset() {
  cursor_->reset();
  started_ = false;
  bound_.clear();
}

int Statement::column_count() const {
  return cursor_->column_count();
}

std::string Statement::column_name(int column) const {
  return cursor_->column_name(column);
}

bool Statement::is_null(int column) const {
  return cursor_->kind(column) == ValueKind::null;
}

std::string Statement::text(int column) const {
  return cursor_->text(column);
}

std::string Statement::yes_no_text(int column) const {
  switch (cursor_->kind(column)) {
    case ValueKind::null:
      return {};
    case ValueKind::integer:
      return cursor_->integer(column) != 0 ? "True" : "False";
    case ValueKind::real:
      return cursor_->real(column) != 0.0 ? "True" : "False";
    case ValueKind::decimal: {
      const auto value = rounded_cents(trim(cursor_->text(column)));
      return value && *value != 0 ? "True" : "False";
    }
    case ValueKind::text:
    case ValueKind::blob:
      break;
  }
  const std::string value = trim(cursor_->text(column));
  if (value == "True" || value == "true" || value == "TRUE") return "True";
  if (value == "False" || value == "false" || value == "FALSE") return "False";
  return numeric_value(value) != 0 ? "True" : "False";
}

std::optional<Cents> Statement::cents(int column) const {
  switch (cursor_->kind(column)) {
    case ValueKind::null:
      return std::nullopt;
    case ValueKind::integer: {
      const std::int64_t whole = cursor_->integer(column);
      if (whole > kLargestWhole || whole < -kLargestWhole) throw_type_mismatch("金額過大");
      return whole * 100;
    }
    case ValueKind::real: {
      const double value = cursor_->real(column);
      if (!std::isfinite(value) || std::fabs(value) > 9.0e15) throw_type_mismatch("金額過大");
      return static_cast<Cents>(std::llround(value * 100.0));
    }
    case ValueKind::decimal: {
      const std::string text = cursor_->text(column);
      const auto value = rounded_cents(text);
      if (!value) throw_type_mismatch("金額 '" + text + "'");
      return value;
    }
    case ValueKind::text:
    case ValueKind::blob:
      break;
  }
  const std::string text = cursor_->text(column);
  const auto parsed = parse_decimal(trim(text));
  if (!parsed) throw_type_mismatch("金額 '" + text + "'");
  return parsed;
}

std::int64_t Statement::integer(int column) const {
  return cursor_->integer(column);
}

Value Statement::value(int column) const {
  return cursor_->value(column);
}

std::string Statement::date_mdy(int column) const {
  if (is_null(column)) return {};
  return mdy_from_stored_date(trim(text(column)));
}

}  // namespace kiv::store
