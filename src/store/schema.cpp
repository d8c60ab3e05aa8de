#include "store/schema.h"

#include <filesystem>

#include "store/db_error.h"
#include "store/transaction.h"

namespace kiv::store {

namespace {

// Storage conventions: text TEXT, numbers NUMERIC, dates TEXT 'YYYY-MM-DD',
// yes/no INTEGER 0/1. Student numbers, payer identifiers and account numbers
// compare without regard to letter case, as the suite's data always has.
// Columns the suite's other programs may leave out all have defaults.
constexpr const char* kSchema = R"SQL(
CREATE TABLE KIV2_School (
  tranidrive TEXT,
  tranidir TEXT
);
CREATE TABLE KIV6_Group (
  GrpID NUMERIC,
  GrpName TEXT
);
CREATE INDEX KIV6_Group_GrpID ON KIV6_Group (GrpID);
CREATE TABLE KIV7_Student (
  stdid TEXT COLLATE NOCASE,
  delmark INTEGER DEFAULT 0,
  grade TEXT,
  clsid TEXT,
  seatno TEXT
);
CREATE INDEX KIV7_Student_stdid ON KIV7_Student (stdid);
CREATE TABLE KIV8_Payment (
  stdid TEXT COLLATE NOCASE,
  tranday TEXT,
  grpid NUMERIC,
  acctid TEXT COLLATE NOCASE,
  offno TEXT COLLATE NOCASE,
  payamt NUMERIC DEFAULT 0,
  fee NUMERIC DEFAULT 0,
  tranday2 TEXT,
  paystas INTEGER DEFAULT 0,
  payway TEXT,
  payday TEXT,
  pay_record TEXT,
  Unequal INTEGER DEFAULT 0,
  realamt NUMERIC,
  unusual TEXT,
  failfac TEXT,
  UNIQUE (stdid, tranday, grpid)
);
CREATE INDEX KIV8_Payment_payer ON KIV8_Payment (acctid, tranday, grpid);
CREATE INDEX KIV8_Payment_day ON KIV8_Payment (tranday, grpid);
CREATE TABLE KIV9_Payitem (
  stdid TEXT COLLATE NOCASE,
  tranday TEXT,
  grpid NUMERIC
);
CREATE INDEX KIV9_Payitem_key ON KIV9_Payitem (stdid, tranday, grpid);
CREATE TABLE KIV10_Agency (
  PayStas INTEGER DEFAULT 0,
  tranday TEXT,
  grpid NUMERIC
);
CREATE INDEX KIV10_Agency_key ON KIV10_Agency (tranday, grpid);
)SQL";

}  // namespace

void create_schema(Connection& connection) {
  Transaction transaction(connection);
  connection.execute(kSchema);
  transaction.commit();
}

std::optional<Error> init_suite(const SuitePaths& paths) {
  std::error_code ec;
  for (const auto& dir : {paths.exe_dir(), paths.mdb_dir(), paths.work_dir()}) {
    std::filesystem::create_directories(dir, ec);
    if (ec) return Error{ec.value(), "無法建立資料夾 " + dir + ": " + ec.message(), true};
  }
  if (std::filesystem::exists(paths.db_path(), ec)) {
    return Error{kErrGeneralFailure, "資料庫已存在,不予覆蓋: " + paths.db_path(), true};
  }
  try {
    Connection connection = Connection::create(paths.db_path());
    create_schema(connection);
  } catch (const DbError& e) {
    std::filesystem::remove(paths.db_path(), ec);
    return e.error();
  }
  return std::nullopt;
}

}  // namespace kiv::store
