#include "writeoff/writeoffs.h"

#include <gtest/gtest.h>

#include <functional>

#include "recording_operator.h"
#include "store_text.h"
#include "writeoff/lookups.h"

namespace kiv::writeoff {
namespace {

// One connection on a fresh suite, the line context and the records of
// 2006-03-15 (and a second date 2006-04-15) in group 3.
class Writeoffs : public kiv::testing::OnEachStore {
 protected:
  static constexpr const char *kDay = "2006/03/15", *kStored = "2006-03-15", *kDay2 = "04/15/2006",
                              *kStored2 = "2006-04-15", *kPayerId = "P000000001", *kPayerAcct = "00012347654321";
  static std::string paid(int fee) { return "1 2006-03-15 1 1 0 NULL NULL '' " + std::to_string(fee); }
  static std::string part(const std::string& realamt, const std::string& code, int fee) {
    return "1 2006-03-15 1 0 1 " + realamt + " " + code + " NULL " + std::to_string(fee);
  }

  kiv::testing::TempSuite suite{store_to_make()};
  store::Connection db = suite.open();
  kiv::testing::RecordingOperator op;
  Session session{db, op};
  LineContext ctx;

  void seed(const std::string& sql) { db.execute(sql); }
  std::string text(const std::string& sql) { return kiv::testing::query_rows(db, sql); }
  std::string snapshot() { return kiv::testing::all_rows(db); }

  // A student (not marked deleted) and the record of `day` in group 3.
  void payment(const std::string& stdid, const std::string& day, const std::string& payamt, const std::string& fee,
               const std::string& extra_columns = "", const std::string& extra_values = "") {
    seed("INSERT INTO KIV7_Student (stdid, delmark) SELECT '" + stdid + "', 0 WHERE NOT EXISTS (SELECT 1 FROM " +
         "KIV7_Student WHERE stdid='" + stdid + "')");
    seed("INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, fee" + extra_columns + ") VALUES ('" + stdid +
         "', '" + day + "', 3, " + payamt + ", " + fee + extra_values + ")");
  }
  void payer_payment(const std::string& stdid, const std::string& day, const std::string& payamt = "100") {
    payment(stdid, day, payamt, "10", ", acctid, offno", ", '" + std::string(kPayerId) + "', 'OFF7654321'");
  }
  void combined() { ctx = {kPayerAcct, kPayerId, "1", {}, {}, {}, {}, {}, {}}; }
  // One payer's records A (amount due 300), B (100) and C (100), fee 10 each:
  // the walk takes them as B, C, A, unlike their student order. OTHER is
  // another payer's record of the same account digits.
  void abc_school() {
    payer_payment("C", kStored), payer_payment("A", kStored, "300"), payer_payment("B", kStored);
    payment("OTHER", kStored, "100", "10", ", acctid, offno", ", 'P000000002', 'OFF7654321'");
  }
  void clear() {
    seed("DELETE FROM KIV7_Student; DELETE FROM KIV8_Payment; DELETE FROM KIV9_Payitem; DELETE FROM KIV10_Agency");
  }

  // payway payday pay_record paystas Unequal realamt unusual failfac fee
  std::string record(const std::string& stdid, const std::string& day = kStored) {
    const std::string row = text(
        "SELECT payway, payday, pay_record, paystas, Unequal, realamt, unusual, failfac, fee FROM KIV8_Payment "
        "WHERE stdid=" +
        kiv::testing::sql_text(stdid) + " AND tranday='" + day + "' AND grpid=3");
    if (row.empty()) return "(none)";
    std::string out;  // numbers without trailing zeros: the server keeps the scale written
    for (std::size_t at = 0, end; at <= row.size(); at = end + 1) {
      end = std::min(row.find(' ', at), row.size());
      out += (at > 0 ? " " : "") + kiv::testing::normalised_number(row.substr(at, end - at));
    }
    return out;
  }
  std::string abc() { return record("A") + " | " + record("B") + " | " + record("C"); }
};
KIV_ON_EACH_STORE(Writeoffs);

TEST_P(Writeoffs, SingleRecordOnItsLineDateOrMovedToItsSecondDate) {
  struct Case {
    std::function<OpResult()> run;
    const char *delmark, *line_day, *second_day;
    bool neighbour;  // another record of the line's date and group keeps its agency row
  } cases[] = {
      {[&] { return update_1(session, ctx, kDay, "1500.0", "S1", "03"); }, "False", "1 2006-03-15 1 1 1 1500 a X 10",
       "1 2006-03-15 1 0 1 1500 a '' 10", true},
      {[&] { return update_1(session, ctx, kDay, "100.5", "S1", "3"); }, "True", "1 2006-03-15 1 1 1 100.5 c X 10",
       "1 2006-03-15 1 0 1 100.5 c '' 10", false},
      {[&] { return update_1(session, ctx, kDay, "7.0", "S1", "3"); }, "", "1 2006-03-15 1 1 1 7 c X 10",
       "1 2006-03-15 1 0 1 7 c '' 10", false},
      {[&] { return update_2(session, ctx, kDay, "S1", "03"); }, "False", "1 2006-03-15 1 1 0 7 NULL '' 10",
       "1 2006-03-15 1 1 0 NULL '' '' 10", false},
      {[&] { return update_3(session, ctx, "F4", kDay, "S1", "3"); }, "False", "1 2006-01-01 1 1 0 7 NULL F4 10",
       "1 NULL 1 0 0 NULL '' F4 10", true},
      {[&] { return update_4(session, ctx, kDay, "S1", "3", ""); }, "False", "1 2006-03-15 1 1 0 7 NULL '' 10",
       "1 2006-03-15 1 1 0 NULL '' '' 10", false},
  };
  for (const Case& c : cases) {
    for (const bool second : {false, true}) {
      SCOPED_TRACE(std::string(c.second_day) + (second ? " on the second date" : ""));
      clear();
      payment("S1", kStored, "100", "10", ", realamt, failfac, paystas, payday", ", 7, 'X', 1, '2006-01-01'");
      payment("S1", kStored2, "100", "10", ", realamt, Unequal, unusual, failfac, paystas, payday",
              ", 50, 1, 'a', 'X', 1, '2006-01-01'");
      if (c.neighbour) payment("S2", kStored, "100", "10");
      seed(
          "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES ('S1', '2006-03-15', 3), ('S1', '2006-04-15', 3);"
          "INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-04-15', 3)");
      const std::string untouched_second = record("S1", kStored2);
      ctx.stu_delmark = c.delmark;
      ctx.tran_day2 = second ? kDay2 : "";
      ASSERT_TRUE(c.run().ok());
      EXPECT_EQ(record("S1") + " / " + record("S1", kStored2),
                second ? "(none) / " + std::string(c.second_day) : c.line_day + (" / " + untouched_second));
      EXPECT_EQ(text("SELECT tranday FROM KIV9_Payitem ORDER BY tranday"),
                second ? kStored2 : "2006-03-15 | 2006-04-15");
      EXPECT_EQ(text("SELECT tranday FROM KIV10_Agency ORDER BY tranday"),
                second && !c.neighbour ? "2006-04-15" : "2006-03-15 | 2006-04-15");
    }
  }
  EXPECT_TRUE(op.messages.empty());
}

TEST_P(Writeoffs, CombinedTransferPaysThePayersRecordsSmallestAmountDueFirstWithTheFeeOnce) {
  const std::string none = "(none)", untouched = "NULL NULL NULL 0 0 NULL NULL NULL 10";
  const char* lone = "DELETE FROM KIV8_Payment WHERE stdid IN ('B', 'C')";
  const char* big = "UPDATE KIV8_Payment SET payamt=1000, fee=0";
  struct Case {
    const char *name, *setup, *amount, *delmark;  // no amount: paid in full (update_2)
    std::string a, b, c;
    const char* failure = "";  // the end of the one message shown
  } cases[] = {
      {"short on the last", "", "350.0", "False", part("140", "a", 0), paid(10), paid(0)},
      {"short on the first", "", "50.0", "False", part("0", "a", 0), part("50", "a", 10), part("0", "a", 0)},
      {"surplus on the last", "", "600.0", "True", part("390", "c", 0), paid(10), paid(0)},
      {"a middle record's exact amount pays it", "", "210.0", "False", part("0", "a", 0), paid(10), paid(0)},
      {"amounts due rounded: 99.60 is 100", "UPDATE KIV8_Payment SET payamt=99.6 WHERE stdid='C'", "210.0", "False",
       part("0", "a", 0), paid(0), paid(10)},
      {"100.5 received rounds to 100", big, "100.5", "False", part("100", "a", 0), part("0", "a", 0),
       part("0", "a", 0)},
      {"101.5 received rounds to 102", big, "101.5", "False", part("102", "a", 0), part("0", "a", 0),
       part("0", "a", 0)},
      {"lone record keeps the surplus", lone, "350.0", "False", part("350", "a", 10), none, none},
      {"lone record paid exactly", lone, "310.4", "False", paid(10), none, none},
      {"empty selection", "UPDATE KIV8_Payment SET offno='OFF1111111'", "150.0", "False", untouched, untouched,
       untouched},
      {"paid in full", "", "", "False", paid(0), paid(10), paid(0)},
      {"a null fee where the walk needs it", "UPDATE KIV8_Payment SET fee=NULL WHERE stdid='A'", "600.0", "False",
       "NULL NULL NULL 0 0 NULL NULL NULL NULL", paid(10), paid(0), "(94)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    abc_school();
    seed(c.setup);
    const std::string other = record("OTHER");
    combined();
    ctx.stu_delmark = c.delmark;
    op.messages.clear();
    const OpResult r =
        *c.amount ? update_1(session, ctx, kDay, c.amount, "", "3") : update_2(session, ctx, kDay, "", "3");
    EXPECT_EQ(r.status, *c.failure ? OpStatus::line_failed : OpStatus::ok);
    EXPECT_EQ(abc(), c.a + " | " + c.b + " | " + c.c);
    EXPECT_EQ(record("OTHER"), other);
    EXPECT_TRUE(*c.failure ? op.messages.size() == 1 && op.messages[0].text.ends_with(c.failure) : op.messages.empty());
  }
}

TEST_P(Writeoffs, CombinedOnASecondDateMovesEveryPayerRecordAndTheLineDateGoes) {
  const struct {
    const char* name;
    std::function<OpResult()> run;
    std::string a, b;  // the second date's records
  } cases[] = {
      {"update_1", [&] { return update_1(session, ctx, kDay, "250.0", "", "3"); }, paid(10),
       "1 2006-03-15 1 0 1 140 a '' 0"},
      {"update_2", [&] { return update_2(session, ctx, kDay, "", "3"); }, "1 2006-03-15 1 1 0 NULL '' '' 10",
       "1 2006-03-15 1 1 0 NULL '' '' 0"},
      {"update_3", [&] { return update_3(session, ctx, "F2", kDay, "", "3"); }, "1 NULL 1 0 0 NULL '' F2 10",
       "1 NULL 1 0 0 NULL '' F2 10"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    for (const char* stdid : {"A", "B"}) payer_payment(stdid, kStored), payer_payment(stdid, kStored2);
    payment("OTHER", kStored, "100", "10");
    combined();
    ctx.tran_day2 = kDay2;
    seed(
        "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES ('A', '2006-03-15', 3), ('B', '2006-03-15', 3), "
        "('OTHER', '2006-03-15', 3);"
        "INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3)");
    if (c.name[7] != '1') seed("UPDATE KIV8_Payment SET payamt=NULL WHERE stdid='A'");  // not weighed
    ctx.stu_delmark = "False";
    ASSERT_TRUE(c.run().ok());
    EXPECT_EQ(record("A", kStored2) + " | " + record("B", kStored2), c.a + " | " + c.b);
    EXPECT_EQ(text("SELECT stdid FROM KIV8_Payment WHERE tranday='2006-03-15'"), "OTHER");
    EXPECT_EQ(text("SELECT stdid FROM KIV9_Payitem"), "OTHER");
    EXPECT_EQ(text("SELECT count(*) FROM KIV10_Agency"), "1") << "OTHER keeps the line date's agency row";
  }
  clear();
  seed(
      "INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 3), ('2006-03-15', 5);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid) VALUES ('OTHER', '2006-03-15', 5)");
  ASSERT_TRUE(update_3(session, ctx, "F1", kDay, "", "3").ok());
  ASSERT_TRUE(update_3(session, ctx, "F1", kDay, "", "5").ok());
  EXPECT_EQ(text("SELECT grpid FROM KIV10_Agency"), "5") << "without records an orphaned agency row goes";
  EXPECT_EQ(text("SELECT failfac FROM KIV8_Payment"), "NULL");
  for (const std::string day : {kStored, kStored2}) {
    seed(
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1200) INSERT INTO KIV8_Payment "
        "(stdid, tranday, grpid, acctid, offno) SELECT 'S' || i, '" +
        day + "', 3, 'P000000001', 'OFF7654321' FROM n");
  }
  ASSERT_TRUE(update_3(session, ctx, "F9", kDay, "", "3").ok()) << "more students than a statement takes values";
  EXPECT_EQ(text("SELECT count(*) FROM KIV8_Payment WHERE tranday='2006-03-15' AND grpid=3"), "0");
  EXPECT_EQ(text("SELECT count(*) FROM KIV8_Payment WHERE failfac='F9'"), "1200");
}

TEST_P(Writeoffs, ResetReturnsTheStudentsOrThePayersRecordsToUnpaidAndInsertCreatesOrWritesOntoARecord) {
  payer_payment("A", kStored), payer_payment("B", kStored, "200"), payment("C", kStored, "300", "10");
  seed(
      "UPDATE KIV8_Payment SET fee=0 WHERE stdid='B'; UPDATE KIV8_Payment SET payway='1', payday='2006-03-15', "
      "FailFac='F', Unequal=1, realamt=5, paystas=1, "
      "unusual='a', pay_record='1'");
  const std::string written = "1 2006-03-15 1 1 1 5 a F ", reset = "'' NULL 1 0 0 NULL '' '' ";
  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "A", "05").ok());
  EXPECT_EQ(abc(), written + "10 | " + written + "0 | " + written + "10") << "group 05 is group 5, not 3";
  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "A", "03").ok());
  EXPECT_EQ(abc(), reset + "10 | " + written + "0 | " + written + "10");
  combined();
  ASSERT_TRUE(default_kiv8(session, ctx, kDay, "C", "3").ok());
  EXPECT_EQ(abc(), reset + "10 | " + reset + "0 | " + written + "10") << "the payer's records, whoever's";
  EXPECT_EQ(text("SELECT sum(payamt) FROM KIV8_Payment"), "600");

  ctx = {};
  seed("INSERT INTO KIV7_Student (stdid, delmark) VALUES ('N1', 0), ('N2', -1), ('N3', NULL)");
  const std::string before = snapshot();
  EXPECT_EQ(insert_1(session, ctx, kDay, "1500.0", "NOBODY", "3").value, kFalse);
  EXPECT_EQ(snapshot(), before);
  for (const char* stdid : {"N1", "N2", "N3"})
    EXPECT_EQ(insert_1(session, ctx, kDay, "1500.0", stdid, "05").value, kTrue);
  EXPECT_EQ(text("SELECT stdid, tranday, grpid, PayWay, PayDay, Unequal, Realamt, Unusual, paystas, pay_record "
                 "FROM KIV8_Payment WHERE stdid LIKE 'N%' ORDER BY stdid"),
            "N1 2006-03-15 5 1 2006-03-15 1 1500 b 0 NULL | N2 2006-03-15 5 1 2006-03-15 1 1500 d 0 NULL | "
            "N3 2006-03-15 5 1 2006-03-15 1 1500 d 0 NULL");
  seed("UPDATE KIV8_Payment SET pay_record=NULL, paystas=0 WHERE stdid='C'");
  EXPECT_EQ(insert_1(session, ctx, kDay, "250.5", "C", "3").value, kTrue);
  EXPECT_EQ(ctx.stu_delmark, "False");
  EXPECT_EQ(record("C"), "2 2006-03-15 1 0 1 250.5 d F 10") << "written onto the one record, no second";
  EXPECT_EQ(text("SELECT count(*) FROM KIV8_Payment WHERE stdid='C'"), "1");
  EXPECT_TRUE(op.messages.empty());
}

constexpr const char* kSchool =
    "INSERT INTO KIV6_Group (GrpID, GrpName) VALUES (7, 'fees'), (8, 'bus');"
    "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES ('S1', 0, ' 3 ', '2 ', ' 15'),"
    " ('S2', -1, '  ', '2', '15'), ('S3', 0, NULL, '2', '15'), ('C1', 1, '1', '1', '1'), ('C2', 0, '1', '1', '2'),"
    " ('C3', 0, '1', '1', '3'), ('C4', 0, '1', '1', '4');"
    "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee, tranday2, paystas, payway,"
    " pay_record) VALUES ('S1', '2003-09-15', 7, NULL, NULL, 1500, 15, NULL, 0, ' 3 ', ' 1 '),"
    " ('S2', '2003-09-15', 7, NULL, NULL, 1500.05, 0.10, '2003-10-01', -1, NULL, '0'),"
    " ('S3', '2003-09-15', 7, NULL, NULL, NULL, 0, NULL, 1, NULL, NULL),"
    " ('NOSTUDENT', '2003-09-15', 9, NULL, NULL, 400, 0, NULL, 1, '1', NULL),"
    " ('C1', '2003-09-15', 8, 'P9', 'XXabc4567', 1000, 15, '2003-09-20', 0, '1', '0'),"
    " ('C2', '2003-09-15', 8, 'p9', '00ABC4567', 2000, 30, NULL, 0, '2', '1'),"
    " ('C3', '2003-09-15', 8, 'P9', 'zzAbC4567', 500, 0, NULL, 0, NULL, '0'),"
    " ('C4', '2003-09-15', 8, 'P9', '00ABC4568', 4000, 0, NULL, 0, '3', '0'),"
    " ('C1', '2003-09-16', 8, 'P9', '00ABC4567', 8000, 0, NULL, 0, '3', '0'),"
    " ('C2', '2003-09-15', 9, 'P9', '00ABC4567', 9000, 0, NULL, 0, '3', '0');";

class Lookups : public Writeoffs {
 protected:
  Lookups() { seed(kSchool); }
  // Characters 8 to 14 of the account field name the payer's records.
  void combined_payer(const std::string& payer_id) { ctx = {"0001230aBc4567", payer_id, "1", {}, {}, {}, {}, {}, {}}; }
  // The answer and what the amount-due lookups leave: "value due_amt|stu_delmark|tran_day2".
  std::string due(const LookupResult& r) const {
    return std::to_string(r.value) + " " + ctx.due_amt + "|" + ctx.stu_delmark + "|" + ctx.tran_day2;
  }
};
KIV_ON_EACH_STORE(Lookups);

TEST_P(Lookups, FindDataAndSelectPaymentSayWhatTheLineNeedsAndTheStudentsLabelIsTrimmed) {
  ctx.tran_day2 = "old";
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/15", "S1", "07")), "-1 1515|False|");
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/15", "s2", "7")), "-1 1500.15|True|10/01/2003");
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/16", "S1", "7")), "0 ||10/01/2003") << "the second date is left";
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/15", "NOSTUDENT", "9")), "0 ||10/01/2003") << "no student row";
  EXPECT_EQ(due(find_data1(session, ctx, "2003/09/15", "S1", "7")), "0 ||10/01/2003") << "not marked paid";
  combined_payer("P9");  // find_data1 has no combined form
  EXPECT_EQ(due(find_data1(session, ctx, "2003/09/15", "s2", "07")), "-1 1500.15|True|10/01/2003");
  EXPECT_EQ(due(find_data(session, ctx, "2003/09/15", "unused", "8")), "-1 3515|True|09/20/2003")
      << "the first row's fee once, every row's amount due";
  EXPECT_EQ(find_data2(session, "2003/09/15", "S1", "7").value, -1) << "paid or not";
  EXPECT_EQ(find_data2(session, "2003/09/15", "NOSTUDENT", "9").value, -1) << "student or not";
  EXPECT_EQ(find_data2(session, "2003/09/16", "S1", "7").value, 0);

  ctx = {};
  const auto select = [&](const char* stdid, const char* grpid, const char* date) {
    ctx.pay_state = ctx.pay_way = "old";
    const auto r = select_KIV8_Payment(session, ctx, stdid, grpid, date);
    return std::to_string(r.value) + " " + ctx.pay_state + "|" + ctx.pay_way;
  };
  EXPECT_EQ(select("s1", "07", "09/15/2003"), "-1 1|3");
  EXPECT_EQ(select("S2", "7", "09/15/2003"), "-1 0|");
  EXPECT_EQ(select("NOSTUDENT", "9", "09/15/2003"), "-1 0|1");
  EXPECT_EQ(select("S1", "7", "09/16/2003"), "0 |");
  combined_payer("P9");
  EXPECT_EQ(select("unused", "8", "09/15/2003"), "-1 1|2") << "any record written off; the last channel named";
  for (const auto& [stdid, label] : {std::pair{"s1", "3年2班15號"}, {"S2", ""}, {"S3", ""}}) {
    EXPECT_EQ(select_KIV7_student(session, ctx, stdid).value, -1);
    EXPECT_EQ(ctx.stu_label, label) << "each part without blanks; no label without a grade, blanks or not";
  }
  EXPECT_TRUE(op.messages.empty());
}

// Values that are no numbers, dates or groups, a null amount and a write the
// database refuses fail the line: the operation shows the standard message
// (the two lookups that decide the log text their own plain box), changes
// nothing, and says whether it had found its record.
TEST_P(Lookups, ValuesThatFailTheLineShowOneMessageAndChangeNothing) {
  db.execute("UPDATE KIV8_Payment SET payamt=NULL WHERE stdid='C2' AND grpid=8");
  payment("S1", kStored, "100", "10");
  seed(
      "INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 0); INSERT INTO KIV7_Student (stdid, delmark, "
      "grade, clsid, seatno) VALUES ('N1', 0, '', '', '');" +
      kiv::testing::trigger_sql(store(), "refuse", "BEFORE INSERT ON KIV8_Payment", "", "RAISE 'no'"));
  const LineContext payer{kPayerAcct, kPayerId, "1", {}, {}, {}, {}, {}, {}};
  const char* refused = store() == kiv::testing::StoreKind::file ? "0 1811" : "0 275";  // by the trigger
  const auto op_result = [](const OpResult& r) { return LookupResult{0, r.status, r.error}; };
  const struct {
    std::function<LookupResult()> run;
    const char* value_and_number;
    bool plain = false;  // the error text alone in a box without icon
  } cases[] = {
      // Found, then a null amount: the message is the caller's to show, since
      // a failed transfer needs no amount.
      {[&] { return find_data(session, ctx, "2003/09/15", "S3", "7"); }, "-1 94"},
      {[&] { return find_data1(session, ctx, "2003/09/15", "S3", "7"); }, "-1 94"},
      {[&] { return find_data(session, ctx, "2004/02/30", "S1", "7"); }, "0 13"},  // no calendar date
      {[&] { return find_data1(session, ctx, "2004/13/01", "S1", "7"); }, "0 13"},
      {[&] { return select_KIV8_Payment(session, ctx, "S1", "7", "02/30/2004"); }, "0 13", true},
      {[&] { return op_result(update_1(session, ctx, kDay, "12x", "S1", "3")); }, "0 13"},
      {[&] { return op_result(update_1(session, ctx, kDay, "", "S1", "3")); }, "0 13"},
      {[&] { return op_result(update_1(session, ctx, "2006/02/30", "1.0", "S1", "3")); }, "0 13"},
      {[&] { return op_result(update_1(session, ctx, kDay, "1.0", "S1", "")); }, "0 13"},
      {[&] { return op_result(update_1(session, payer, kDay, "abc", "", "3")); }, "0 13"},
      {[&] { return op_result(update_2(session, ctx, kDay, "S1", "")); }, "0 13"},
      {[&] { return op_result(update_3(session, ctx, "F", "2006/13/01", "S1", "3")); }, "0 13"},
      {[&] { return op_result(update_4(session, ctx, kDay, "S1", "3a", "")); }, "0 13"},
      {[&] { return op_result(update_kiv10(session, kDay, "x7")); }, "0 13"},
      {[&] { return insert_1(session, ctx, "2006/02/30", "1.0", "S1", "3"); }, "0 13"},
      {[&] { return insert_1(session, ctx, kDay, "1,500", "S1", "3"); }, "0 13"},
      {[&] { return insert_1(session, ctx, kDay, "1.0", "S1", ""); }, "0 13"},
      {[&] { return insert_1(session, ctx, kDay, "1.0", "N1", "3"); }, refused},
      {[&] { return combined_payer("P9"), find_data(session, ctx, "2003/09/15", "", "8"); }, "-1 94"},
  };
  const std::string before = snapshot();
  for (const auto& c : cases) {
    op.messages.clear();
    const LookupResult r = c.run();
    EXPECT_EQ(std::to_string(r.value) + " " + std::to_string(r.error.number), c.value_and_number);
    EXPECT_EQ(r.status, OpStatus::line_failed);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(r.amount_unknown, r.error.number == kErrInvalidUseOfNull);
    if (r.amount_unknown) {
      EXPECT_TRUE(op.messages.empty());
      continue;
    }
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text, c.plain ? r.error.description : standard_error_text(r.error));
    EXPECT_EQ(op.messages[0].icon, c.plain ? MessageIcon::none : MessageIcon::critical);
    EXPECT_EQ(op.messages[0].title, "Tavenor");
  }
  ctx = {};
  ctx.tran_day2 = "02/29/2006";
  EXPECT_EQ(update_2(session, ctx, kDay, "S1", "3").error.number, kErrTypeMismatch);
  EXPECT_EQ(text("SELECT paystas FROM KIV8_Payment WHERE stdid='S1' AND grpid=3"), "1")
      << "the line date is written first";
}

}  // namespace
}  // namespace kiv::writeoff
