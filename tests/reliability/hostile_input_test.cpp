// Collection files and path texts made to break the program: SQL
// metacharacters, NUL and bytes that are not UTF-8, very long lines. They
// are data: the run completes and touches only the records the lines name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "../run/run_fixture.h"
#include "import/collection_file.h"
#include "store/statement.h"
#include "suite_state.h"
#include "tool_run.h"

namespace kiv::testing {
namespace {

namespace fs = std::filesystem;
using import::RunOutcome;

// Every SQL metacharacter in one field-sized text.
constexpr const char* kStdid1 = "'--;\"";
constexpr const char* kStdid2 = "\";'--";
constexpr const char* kPayerId = "p'--;\"DROP";  // 10 characters
constexpr const char* kAcct7 = "'--;\"x;";       // characters 8 to 14 of the payer account
constexpr const char* kFailCode = "';";

int critical_messages(const RecordingOperator& op) {
  return static_cast<int>(std::count_if(op.messages.begin(), op.messages.end(),
                                        [](const auto& m) { return m.icon == MessageIcon::critical; }));
}

// Rows of the payment, fee item and student tables that no line names,
// and the schema: what must not change.
std::string untouched(const RunFixture& f) {
  auto db = f.suite.open();
  std::string out;
  for (const char* sql :
       {"SELECT group_concat(sql) FROM sqlite_master",
        "SELECT group_concat(quote(stdid)||quote(paystas)||quote(payway)||quote(payday)||quote(pay_record)||"
        "quote(failfac)||quote(realamt)||quote(unusual)) FROM (SELECT * FROM KIV8_Payment WHERE stdid LIKE 'V%' "
        "OR stdid IN ('D0001', 'E0001') ORDER BY stdid)",
        "SELECT count(*) || group_concat(stdid) FROM KIV8_Payment", "SELECT count(*) FROM KIV9_Payitem",
        "SELECT group_concat(quote(stdid)||quote(delmark)||quote(grade)) FROM KIV7_Student"}) {
    out += query_text(db, sql) + "\n";
  }
  return out;
}

void seed_named_school(RunFixture& f) {
  auto db = f.suite.open();
  for (const char* id : {kStdid1, kStdid2, "C0001", "D0001", "E0001", "V0001", "V0002", "V'--;"}) {
    store::Statement(db,
                     "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES (?1, 0, '3', '2', '7')")
        .bind(1, id)
        .run();
    store::Statement(db,
                     "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) "
                     "VALUES (?1, '2004-10-15', 1, ?2, ?3, 100, 0)")
        .bind(1, id)
        .bind(2, std::string("A") + id)
        .bind(3, std::string("OF") + id)
        .run();
  }
  // One payer's two records, paid by one combined transfer.
  for (const auto& [id, due] : {std::pair{"B0001", "100"}, std::pair{"B0002", "200"}}) {
    store::Statement(db, "INSERT INTO KIV7_Student (stdid, delmark) VALUES (?1, 0)").bind(1, id).run();
    store::Statement(db,
                     "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) "
                     "VALUES (?1, '2004-10-15', 1, ?2, ?3, ?4, 10)")
        .bind(1, id)
        .bind(2, kPayerId)
        .bind(3, std::string("OF") + kAcct7)
        .bind(4, due)
        .run();
  }
  db.execute("INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1)");
}

TEST(HostileInput, SqlMetacharactersInEveryTextFieldAreDataThatReachOnlyTheNamedRecords) {
  RunFixture f;
  seed_named_school(f);
  f.detail(kStdid1, 10000);
  f.detail(kStdid2, 10000);
  f.detail("B0001", 31000, "", "1", kPayerId, std::string("0000000") + kAcct7);
  f.detail("C0001", 10000, kFailCode);
  f.lines.push_back(import::format_detail({"0931015", "", "", 10000, "0", "D0001", "'-", ""}));
  f.lines.push_back(import::format_detail({"0931015", "", "", 10000, "0", "E0001", "1;", ""}));
  const std::string before = untouched(f);

  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.ok, 3);
  EXPECT_EQ(r.failed, 1);
  EXPECT_EQ(r.errors, 2);
  // The one message: a group text "1;" is not a whole number where the
  // write splices a group (a type mismatch by rule), never a broken statement.
  ASSERT_EQ(critical_messages(f.op), 1);
  EXPECT_TRUE(f.op.messages[0].text.ends_with("(13)")) << f.op.messages[0].text;

  EXPECT_EQ(f.query("SELECT group_concat(stdid, ' ') FROM (SELECT stdid FROM KIV8_Payment WHERE paystas<>0 AND "
                    "pay_record='1' ORDER BY stdid)"),
            std::string(kStdid2) + " " + kStdid1 + " B0001 B0002");
  EXPECT_EQ(f.query("SELECT failfac FROM KIV8_Payment WHERE stdid='C0001'"), kFailCode) << "stored exactly";
  EXPECT_EQ(untouched(f), before);
  const auto log = f.log_lines(r);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], f.lines[4]);
  EXPECT_EQ(log[1], ",查無繳費記錄檔") << "the group text \"'-\" is group 0: no record";
  EXPECT_EQ(log[2], f.lines[5]);
  EXPECT_EQ(log[3], " ,銷帳寫入失敗 ");
}

TEST(HostileInput, PathTextWithSqlMetacharactersNamesItsFile) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.detail("10001", 10000);
  const std::string content = slurp(f.write());
  const std::string path = f.suite.write_file("in/it's --; \"x\"/post'1003;--\".dat", content);
  const auto r = import::confirm_run({f.suite.paths(), false, path}, f.op);
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(critical_messages(f.op), 0);

  // Through the headless tool, and a missing file named the same way.
  const auto missing = run_tool(f.suite.root(), {"post", "--root", f.suite.root(), "--json", path + "'"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.out.find("找 不 到 檔 案 ( " + f.suite.root() + "/in/it's --; \\\"x\\\"/post'1003;--\\\".dat' )"),
            std::string::npos)
      << missing.out;
}

// A detail line for `stdid` with `bytes` written over it from 1-based column `at`.
std::string line_with(const std::string& stdid, std::size_t at, const std::string& bytes) {
  std::string line = import::format_detail({"0931015", "00000000000000", "", 10000, "0", stdid, "01", ""});
  line.replace(at - 1, bytes.size(), bytes);
  return line;
}

TEST(HostileInput, NulAndBytesThatAreNotUtf8AreCarriedAsTheyAreAndLoggedByteForByte) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.student_with_record("10003", "100");
  using namespace std::string_literals;
  f.lines.push_back(line_with("10001", 2, "\0\0\xff\xfe\0\x80\xc3"s));  // unused columns
  f.lines.push_back(line_with("10002", 65, "100\0"s + "2"));            // NUL inside the student number
  f.lines.push_back(line_with("\xff\xfe\xfd\xfc\xfb", 34, "\xc3\x28\xa0\xa1\xe2\x82"));  // not UTF-8
  f.lines.push_back(line_with("10003", 56, "\r\x1b\x7f"));                               // a lone CR, ESC, DEL
  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.ok, 2);
  EXPECT_EQ(r.errors, 2);
  EXPECT_EQ(critical_messages(f.op), 0);
  EXPECT_EQ(f.query("SELECT group_concat(stdid) FROM KIV8_Payment WHERE paystas<>0"), "10001,10003");
  const auto log = f.log_lines(r);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], f.lines[1]);
  EXPECT_EQ(log[2], f.lines[2]);
  EXPECT_EQ(log[3], ",查無繳費記錄檔");
}

TEST(HostileInput, RecordOfAnUnknownKindRejectsTheFileBeforeAnythingIsPosted) {
  using namespace std::string_literals;
  for (const std::string& first : {"\0"s, "\xef\xbb\xbf"s, "\xff"s}) {  // NUL, a UTF-8 byte order mark, not UTF-8
    RunFixture f;
    f.student_with_record("10001", "100");
    f.detail("10001", 10000);
    f.lines.push_back(first + f.lines[0]);
    const auto r = f.run();
    EXPECT_EQ(r.outcome, RunOutcome::stopped);
    ASSERT_EQ(f.op.messages.size(), 1u);
    EXPECT_EQ(f.op.messages[0].text, import::kMsgMalformed);
    EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE paystas<>0"), "0");
  }
}

TEST(HostileInput, LinesOfAMegabyteArePostedOrLoggedWhole) {
  RunFixture f;
  f.student_with_record("10001", "100");
  std::string tail(1 << 20, 'x');
  for (std::size_t i = 0; i < tail.size(); i += 4099) tail[i] = static_cast<char>(i % 256);  // NUL and high bytes too
  std::replace(tail.begin(), tail.end(), '\n', 'n');
  f.detail("10001", 10000);
  f.lines.back() += tail;
  f.detail("99999", 10000);
  f.lines.back() += tail;
  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.lines, 2);
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.errors, 1);
  const auto log = f.log_lines(r);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0] == f.lines[1]) << "the long line is logged whole, " << log[0].size() << " bytes";
}

}  // namespace
}  // namespace kiv::testing
