#include "source/transfer_source.h"
#include "store/connection.h"
#include "store/db_error.h"
#include "store/statement.h"

namespace kiv::source {

namespace {

// The first character of a UTF-8 text, whole: a folder name may well start
// with a Chinese character, and half of one is not text.
std::string first_character(const std::string& text) {
  if (text.empty()) return {};
  const auto lead = static_cast<unsigned char>(text[0]);
  std::size_t length = 1;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
  }
  if (length > text.size()) length = 1;
  for (std::size_t i = 1; i < length; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return text.substr(0, 1);
  }
  return text.substr(0, length);
}

}  // namespace

void update_drive(const SuitePaths& paths, Operator& op, const std::string& path_text) {
  const std::size_t last_slash = path_text.rfind('/');
  const std::string folder = last_slash == std::string::npos ? std::string() : path_text.substr(0, last_slash + 1);
  try {
    store::Connection db = store::Connection::open(paths, [&op] { op.pump_events(); });
    // Every row: the table is the one school's row.
    static const store::Sql kRemember{"update KIV2_School set tranidrive=?1,tranidir=?2"};
    store::Statement st(db, kRemember);
    st.bind(1, first_character(path_text)).bind(2, folder).run();
  } catch (const store::DbError& e) {
    report_error(op, e.error());
  }
}

}  // namespace kiv::source
