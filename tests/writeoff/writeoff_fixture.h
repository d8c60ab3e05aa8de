#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "recording_operator.h"
#include "store/connection.h"
#include "store/file/file_store.h"
#include "store/statement.h"
#include "temp_suite.h"
#include "writeoff/line_context.h"
#include "writeoff/session.h"
#include "writeoff/writeoffs.h"

namespace kiv::writeoff {

class WriteoffTest : public ::testing::Test {
 protected:
  static constexpr const char* kDay = "2006/03/15";
  static constexpr const char* kStored = "2006-03-15";
  static constexpr const char* kDay2 = "04/15/2006";
  static constexpr const char* kStored2 = "2006-04-15";
  static constexpr const char* kPayerId = "P000000001";
  static constexpr const char* kPayerAcct = "00012347654321";
  static constexpr const char* kUntouched = "NULL NULL NULL 0 0 NULL NULL NULL 10";
  static std::string paid(int fee) { return "'1' '2006-03-15' '1' 1 0 NULL NULL '' " + std::to_string(fee); }
  static std::string part(const std::string& realamt, const std::string& code, int fee) {
    return "'1' '2006-03-15' '1' 0 1 " + realamt + " '" + code + "' NULL " + std::to_string(fee);
  }

  kiv::testing::TempSuite suite;
  store::Connection db = suite.open();
  kiv::testing::RecordingOperator op;
  Session session{db, op};
  LineContext ctx;

  void seed(const std::string& sql) { db.execute(sql); }
  std::int64_t count(const std::string& sql) { return kiv::testing::query_int(db, sql); }
  std::string text(const std::string& sql) { return kiv::testing::query_text(db, sql); }

  void payment(const std::string& stdid, const std::string& day, const std::string& payamt, const std::string& fee,
               const std::string& extra_columns = "", const std::string& extra_values = "") {
    seed("INSERT INTO KIV7_Student (stdid, delmark) SELECT '" + stdid + "', 0 WHERE NOT EXISTS (SELECT 1 FROM " +
         "KIV7_Student WHERE stdid='" + stdid + "')");
    seed("INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee" + extra_columns + ") VALUES ('" + stdid +
         "', '" + day + "', 3, " + payamt + ", " + fee + extra_values + ")");
  }
  void payer_payment(const std::string& stdid, const std::string& day, const std::string& payamt,
                     const std::string& fee) {
    payment(stdid, day, payamt, fee, ", acctid, offno", ", '" + std::string(kPayerId) + "', 'OFF7654321'");
  }
  void combined(LineContext& line) {
    line.comb_flag = "1";
    line.payer_id = kPayerId;
    line.payer_acct = kPayerAcct;
  }
  void combined() { combined(ctx); }
  void payer_on_both_dates() {
    for (const char* stdid : {"A", "B"}) {
      payer_payment(stdid, kStored, "100", "10");
      payer_payment(stdid, kStored2, "100", "10");
    }
    combined();
    ctx.tran_day2 = kDay2;
  }
  void abc_school() {
    payer_payment("C", kStored, "300", "10");
    payer_payment("B", kStored, "100", "10");
    payer_payment("A", kStored, "100", "10");
    payment("OTHER", kStored, "100", "10", ", acctid, offno", ", 'P000000002', 'OFF7654321'");
  }
  void clear() {
    seed(
        "DELETE FROM KIV7_Student; DELETE FROM KIV8_Payment; DELETE FROM KIV9_Payitem;"
        "DELETE FROM KIV10_Agency;");
  }

  std::string record(const std::string& stdid, const std::string& day = kStored) {
    store::Statement st(db,
                        "SELECT quote(payway)||' '||quote(payday)||' '||quote(pay_record)||' '||quote(paystas)||' '||"
                        "quote(Unequal)||' '||quote(realamt)||' '||quote(unusual)||' '||quote(failfac)||' '||"
                        "quote(fee) FROM KIV8_Payment WHERE stdid=?1 AND tranday=?2 AND grpid=3");
    st.bind(1, stdid).bind(2, day);
    return st.step() ? st.text(0) : "(none)";
  }
  std::string abc() { return record("A") + " | " + record("B") + " | " + record("C"); }

  std::string snapshot() {
    std::string all;
    for (const std::string table : {"KIV7_Student", "KIV8_Payment", "KIV9_Payitem", "KIV10_Agency"}) {
      sqlite3_stmt* stmt = nullptr;
      EXPECT_EQ(sqlite3_prepare_v2(store::file::handle_of(db), ("SELECT * FROM " + table).c_str(), -1, &stmt, nullptr),
                SQLITE_OK);
      for (all += table; sqlite3_step(stmt) == SQLITE_ROW; all += "\n") {
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
          all += text ? std::string("'") + text + "' " : "NULL ";
        }
      }
      sqlite3_finalize(stmt);
    }
    return all;
  }
};

}  // namespace kiv::writeoff
