#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "recording_operator.h"
#include "store/connection.h"
#include "store/statement.h"
#include "temp_suite.h"
#include "writeoff/line_context.h"
#include "writeoff/session.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {

// A fresh suite database per test, the run's connection and a recording
// operator; seeds and checks are plain SQL.
class WriteoffTest : public ::testing::Test {
 protected:
  static constexpr const char* kDay = "2006/03/15";     // a line's date
  static constexpr const char* kStored = "2006-03-15";  // the same, stored
  static constexpr const char* kDay2 = "04/15/2006";    // a record's second date
  static constexpr const char* kStored2 = "2006-04-15";
  static constexpr const char* kPayerId = "P000000001";
  static constexpr const char* kPayerAcct =
      "0001234"
      "7654321";  // account digits 7654321

  kiv::testing::TempSuite suite;
  store::Connection db = suite.open();
  kiv::testing::RecordingOperator op;
  Session session{db, op};
  LineContext ctx;

  void seed(const std::string& sql) { db.execute(sql); }

  // A student and its payment record of a date in group 3.
  void payment(const std::string& stdid, const std::string& stored_day, const std::string& payamt,
               const std::string& fee, const std::string& extra_columns = "", const std::string& extra_values = "") {
    seed("INSERT INTO KIV7_Student (stdid, delmark) SELECT '" + stdid +
         "', 0 WHERE NOT EXISTS (SELECT 1 FROM KIV7_Student WHERE stdid='" + stdid + "')");
    seed("INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee" + extra_columns + ") VALUES ('" + stdid +
         "', '" + stored_day + "', 3, " + payamt + ", " + fee + extra_values + ")");
  }

  // A record of the payer of kPayerId / kPayerAcct.
  void payer_payment(const std::string& stdid, const std::string& stored_day, const std::string& payamt,
                     const std::string& fee) {
    payment(stdid, stored_day, payamt, fee, ", acctid, offno", ", '" + std::string(kPayerId) + "', 'OFF7654321'");
  }

  void combined() {
    ctx.comb_flag = "1";
    ctx.payer_id = kPayerId;
    ctx.payer_acct = kPayerAcct;
  }

  // The written columns of one payment record, quoted as SQL shows them:
  // payway, payday, pay_record, paystas, Unequal, realamt, unusual, failfac, fee.
  std::string record(const std::string& stdid, const std::string& stored_day = kStored) {
    store::Statement st(db,
                        "SELECT quote(payway)||' '||quote(payday)||' '||quote(pay_record)||' '||quote(paystas)||' '||"
                        "quote(Unequal)||' '||quote(realamt)||' '||quote(unusual)||' '||quote(failfac)||' '||"
                        "quote(fee) FROM KIV8_Payment WHERE stdid=?1 AND tranday=?2 AND grpid=3");
    st.bind(1, stdid).bind(2, stored_day);
    return st.step() ? st.text(0) : "(none)";
  }

  std::int64_t count(const std::string& sql) { return kiv::testing::query_int(db, sql); }

  // Every row of every table the write-offs touch, to compare whole states.
  std::string snapshot() {
    std::string all;
    for (const char* table : {"KIV7_Student", "KIV8_Payment", "KIV9_Payitem", "KIV10_Agency"}) {
      sqlite3_stmt* stmt = nullptr;
      const std::string sql = std::string("SELECT * FROM ") + table + " ORDER BY rowid";
      EXPECT_EQ(sqlite3_prepare_v2(db.handle(), sql.c_str(), -1, &stmt, nullptr), SQLITE_OK);
      all += table;
      while (sqlite3_step(stmt) == SQLITE_ROW) {
        all += "\n";
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
          const auto* text = sqlite3_column_text(stmt, i);
          all += text ? std::string("'") + reinterpret_cast<const char*>(text) + "' " : "NULL ";
        }
      }
      sqlite3_finalize(stmt);
      all += "\n";
    }
    return all;
  }
};

}  // namespace kiv::writeoff
