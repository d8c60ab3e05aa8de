// The floor of a posting run's database work: for every detail line of a
// collection file, the five statements of an ordinary write-off (payment
// lookup, agency flag, reset, amount-due lookup, paid in full), prepared
// once, bound per line, in one transaction, straight through SQLCipher's C
// API. No dispatch, no atomic lines, no journal, no log: what the program
// does beyond this is its own cost.
//   bench_post_floor DATABASE COLLECTION_FILE
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr const char* kStatements[] = {
    "select payway,pay_record from KIV8_Payment A left outer join KIV6_Group B on A.GrpID = B.GrpID "
    "WHERE A.STDID COLLATE NOCASE=?1 COLLATE NOCASE and A.GrpID=?3 and A.tranday=?2 ORDER BY A.rowid, B.rowid",
    "update KIV10_Agency set PayStas=1 where tranday=?2 and grpid=?3",
    "update KIV8_Payment set payway='',payday=null,FailFac='',Unequal=0,realamt=null,paystas=0,unusual='' "
    "where stdid COLLATE NOCASE=?1 COLLATE NOCASE and tranday=?2 and grpid=?3",
    "SELECT a.payamt,a.fee,b.delmark,a.tranday2 FROM KIV8_payment AS a, KIV7_student AS b "
    "WHERE a.stdid COLLATE NOCASE=?1 COLLATE NOCASE and a.tranday=?2 and a.grpid=?3 "
    "And a.stdid COLLATE NOCASE=b.stdid COLLATE NOCASE ORDER BY a.rowid, b.rowid",
    "update KIV8_Payment set payway='1',payday=?2,pay_record='1',paystas=1,failfac='' "
    "where stdid COLLATE NOCASE=?1 COLLATE NOCASE and tranday=?2 and grpid=?3",
};

void check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    std::exit(2);
  }
}

std::string_view field(std::string_view line, std::size_t column, std::size_t length) {
  if (column > line.size()) return {};
  std::string_view f = line.substr(column - 1, length);
  while (!f.empty() && f.front() == ' ') f.remove_prefix(1);
  while (!f.empty() && f.back() == ' ') f.remove_suffix(1);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: bench_post_floor DATABASE COLLECTION_FILE\n", stderr);
    return 2;
  }
  sqlite3* db = nullptr;
  check(db, sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr), "open");
  check(db, sqlite3_key(db, "QZMPW", 5), "key");
  check(db, sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), "begin");
  sqlite3_stmt* statements[5] = {};
  for (int i = 0; i < 5; ++i) check(db, sqlite3_prepare_v2(db, kStatements[i], -1, &statements[i], nullptr), "prepare");

  std::FILE* file = std::fopen(argv[2], "rb");
  if (file == nullptr) {
    std::perror(argv[2]);
    return 2;
  }
  char buffer[4096];
  long long lines = 0;
  while (std::fgets(buffer, sizeof buffer, file) != nullptr) {
    std::string_view line(buffer, std::strcspn(buffer, "\r\n"));
    if (line.size() <= 10 || line[0] != '1') continue;
    ++lines;
    const bool seven = field(line, 17, 3).empty();
    const std::string_view date = line.substr(9, seven ? 7 : 6);
    const int year = std::atoi(std::string(date.substr(0, seven ? 3 : 2)).c_str()) + 1911;
    char day[32];
    std::snprintf(day, sizeof day, "%04d-%.2s-%.2s", year, date.data() + (seven ? 3 : 2),
                  date.data() + date.size() - 2);
    const std::string_view stdid = field(line, 65, 5);
    const long long group = std::atoll(std::string(field(line, 70, 2)).c_str());
    for (sqlite3_stmt* st : statements) {
      sqlite3_bind_text(st, 1, stdid.data(), static_cast<int>(stdid.size()), SQLITE_TRANSIENT);
      sqlite3_bind_text(st, 2, day, -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(st, 3, group);
      int rc;
      while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
      }
      check(db, rc, "step");
      sqlite3_reset(st);
    }
  }
  std::fclose(file);
  for (sqlite3_stmt* st : statements) sqlite3_finalize(st);
  check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  sqlite3_close(db);
  std::printf("%lld lines\n", lines);
  return 0;
}
