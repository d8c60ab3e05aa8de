#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "import/error_log.h"
#include "run_fixture.h"
#include "store/statement.h"
#include "store_text.h"
#include "workstations.h"

namespace kiv::testing {
namespace {

using import::RunOutcome;
using writeoff::LookupResult;
using writeoff::OpStatus;

// A record that find_data misses and find_data1 finds, and an insert refused
// once its student was found, cannot be made from data alone.
class Seam : public import::LineOperations {
 public:
  LookupResult find_data(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    return stdid.starts_with("4") ? LookupResult{} : LineOperations::find_data(s, c, day, stdid, grpid);
  }
  LookupResult find_data1(Session& s, Ctx& c, S day, S stdid, S grpid) override {
    if (stdid == "40001" || stdid == "4'--;") return {writeoff::kTrue, OpStatus::ok, {}};
    return LineOperations::find_data1(s, c, day, stdid, grpid);
  }
  LookupResult insert_1(Session& s, Ctx& c, S day, S amt, S stdid, S grpid) override {
    if (stdid == "40003") return {writeoff::kFalse, OpStatus::line_failed, Error{2067, "UNIQUE constraint", false}};
    return LineOperations::insert_1(s, c, day, amt, stdid, grpid);
  }
};

// Values made to break a statement or a file: quotes, comments, semicolons.
constexpr const char* kStdid1 = "'--;\"";
constexpr const char* kStdid2 = "\";'--";
constexpr const char* kPayerId = "p'--;\"DROP";
constexpr const char* kAcct7 = "'--;\"x;";

class ImportRun : public OnEachStore {};
KIV_ON_EACH_STORE(ImportRun);

TEST_P(ImportRun, EveryRoadOfALineCountsLogsAndRollsBackAsItShouldWhateverTheLineHolds) {
  RunFixture f(store());
  for (const char* id : {"10001", "10002", "10003", "10004", "10006", "40001", "40002", "40003"})
    f.student_with_record(id, "1500", "15");
  f.student_with_record("10005", "201.5");
  for (const std::string id :
       {kStdid1, kStdid2, "H0001", "H0002", "H0003", "H0004", "H0006", "V0001", "V'--;", "4'--;", "4';--"}) {
    f.seed("INSERT INTO KIV7_Student (stdid, delmark, grade) VALUES (" + sql_text(id) +
           ", 0, '3');"
           "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) VALUES (" +
           sql_text(id) + ", '2004-10-15', 1, " + sql_text(id) + ", " + sql_text("OF" + id) + ", 90, 10)");
  }
  for (const char* id : {"Q0001", "Q0002"}) {
    f.seed("INSERT INTO KIV7_Student (stdid, delmark) VALUES ('" + std::string(id) +
           "', 0);"
           "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) VALUES ('" +
           id + "', '2004-10-15', 1, " + sql_text(kPayerId) + ", " + sql_text(std::string("OF") + kAcct7) + ", " +
           (id[4] == '1' ? "100" : "200") + ", 10)");
  }
  f.seed(
      "UPDATE KIV8_Payment SET fee=NULL WHERE stdid='10006';"
      "INSERT INTO KIV10_Agency (PayStas, tranday, grpid) VALUES (0, '2004-10-15', 1), (0, '2004-10-15', 2), "
      "(0, '2004-10-16', 1);"
      "INSERT INTO KIV7_Student (stdid, delmark, grade, clsid, seatno) VALUES ('20001', 0, '3', '2', '15'), "
      "('20002', 0, ' 4 ', '1', '7'), ('20003', 0, '', '1', '1'), ('A0001', 0, '', '', ''), "
      "('B0001', 0, '', '', ''), ('C0001', 0, '', '', ''), ('x''--;', 0, '3', NULL, NULL);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, pay_record, payway, paystas) VALUES "
      "('20001', '2004-10-15', 1, 100, '1', '1', 1), ('20002', '2004-10-15', 1, 100, '1', '3', 1), "
      "('20003', '2004-10-15', 1, 100, '1', '1', 1), ('20004', '2004-10-15', 1, 100, '1', '1', 1), "
      "('x''--;', '2004-10-15', 1, 90, '1', NULL, 0), ('y''--;', '2004-10-15', 1, 90, NULL, NULL, 0);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, payway, payday, failfac, realamt, unusual) VALUES "
      "('30001', '2004-10-15', 1, 100, NULL, NULL, NULL, NULL, NULL), "
      "('30002', '2004-10-15', 2, 100, '9', '2004-01-01', 'zz', 55, 'q');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt, fee) VALUES "
      "('30003', '2004-10-15', 1, 'PAYER', 'XX7654321', 100, 0), "
      "('A0001', '2004-10-15', 1, 'PAYER', '001234567', 100, 10), "
      "('B0001', '2004-10-15', 1, 'PAYER', '001234567', 200, 10), "
      "('C0001', '2004-10-15', 1, 'PAYER', '001234567', 300, 10);" +
      trigger_sql(store(), "refuse", "AFTER UPDATE OF paystas ON KIV8_Payment", "new.stdid='C0001' AND new.paystas<>0",
                  "RAISE 'refused'"));
  const char* untouched_sql =
      "SELECT * FROM KIV8_Payment WHERE stdid IN ('30002', 'H0002', 'H0003', 'V0001', 'V''--;') OR acctid='PAYER' "
      "ORDER BY stdid";
  const auto untouched_rows = [&] {
    return f.rows(untouched_sql) + f.rows("SELECT * FROM KIV7_Student ORDER BY stdid");
  };
  const std::string untouched = untouched_rows();

  std::vector<std::string> log;  // the line copied byte for byte, then its reason
  const auto logged = [&](const std::string& reason) { log.insert(log.end(), {f.lines.back(), reason}); };
  const auto line_with = [&](const std::string& stdid, std::size_t at, const std::string& bytes) {
    f.detail(stdid, 10000);
    f.lines.back().replace(at - 1, bytes.size(), bytes);
  };
  std::string megabyte(1 << 20, 'x');
  for (std::size_t i = 0; i < megabyte.size(); i += 4099) megabyte[i] = static_cast<char>(i % 256 == 10 ? 0 : i % 256);
  f.detail("10001", 151500);  // the amount due: paid in full
  f.detail("10002", 151501);  // a hundredth more or less: the amount as received
  f.detail("10003", 151499);
  f.detail("10004", 151500, "01");  // a failed transfer
  f.detail("10005", 20150);
  line_with("10001", 70, "03"), logged(",查無繳費記錄檔");
  const char* duplicates[] = {"3年2班15號 重複銷帳 ", "4年1班7號,已有現金繳費,不能重複銷帳", " 重複銷帳 ",
                              " 重複銷帳 "};
  for (int i = 0; i < 4; ++i) f.detail("2000" + std::to_string(i + 1), 10000), logged(duplicates[i]);
  f.detail("30001", 10000, "05"), logged(" ,查無繳費記錄 ");
  line_with("30002", 70, "02"), logged(" ,新增繳費記錄失敗 ");
  f.detail("ZZZZZ", 10000, "", "1", "PAYER", "00000007654321"), logged(" 合併轉帳寫入失敗,查無繳費記錄 ");
  f.detail("A0001", 61000, "", "1", "PAYER", "00000001234567"), logged(" ,銷帳寫入失敗 ");  // its third record refused
  f.detail("10006", 151500), logged(" ,銷帳寫入失敗 ");                                     // a null fee
  f.detail("40001", 12000);
  f.detail("40002", 12000);
  f.detail("40003", 12000), logged(" ,新增繳費記錄失敗 ");
  f.detail("4'--;", 12000);  // written onto a paid record, and onto one that exists after all
  f.detail("4';--", 12000);
  f.detail(kStdid1, 10000);
  f.detail(kStdid2, 9000);
  f.detail("Q0001", 30000, "", "1", kPayerId, std::string("0000000") + kAcct7);
  f.detail("H0001", 10000, "';");
  line_with("H0002", 70, "'-"), logged(",查無繳費記錄檔");
  line_with("H0003", 70, "1;"), logged(" ,銷帳寫入失敗 ");
  line_with("H0004", 2, std::string("\0\0\xff\xfe\0\x80\xc3", 7));
  line_with("H0005", 65, "H00" + std::string(1, '\0') + "5"), logged(",查無繳費記錄檔");
  line_with("\xff\xfe\xfd\xfc\xfb", 34, "\xc3\x28\xa0\xa1\xe2\x82"), logged(",查無繳費記錄檔");
  line_with("H0006", 56, "\r\x1b\x7f");
  f.lines.back() += megabyte;
  line_with("ZZZZ9", 1, "1");
  f.lines.back() += megabyte;
  logged(",查無繳費記錄檔");
  f.detail("x'--;", 10000), logged("3年班號 重複銷帳 ");
  f.detail("y'--;", 10000), logged(" ,新增繳費記錄失敗 ");
  const std::string path = f.suite.write_file("in/it's --; \"x\"/post'1003;--\".dat", slurp(f.write()));
  for (std::time_t t = std::time(nullptr), end = t + 5; t < end; ++t) {  // another run's log holds the name
    std::tm local{};
    localtime_r(&t, &local);
    std::ofstream(import::error_log_path(f.suite.paths().work_dir(), local)) << "another run's log";
  }
  Seam seam;
  const auto r = import::confirm_run({f.suite.paths(), false, path}, f.op, &seam);

  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ((std::vector<std::int64_t>{r.lines, r.ok, r.failed, r.errors}), (std::vector<std::int64_t>{33, 13, 2, 18}));
  EXPECT_EQ(r.posted_cents, 567650) << "a failed transfer and a write onto a paid record add nothing";
  EXPECT_EQ(r.posted_total(), 5676) << "5676.50 rounded once, a half to even";
  EXPECT_EQ(f.rows("SELECT stdid, paystas, Unequal, realamt, unusual, failfac, pay_record, payway, fee FROM "
                   "KIV8_Payment WHERE stdid LIKE '1%' OR stdid LIKE '4%' OR acctid=stdid AND stdid NOT LIKE 'V%' OR "
                   "stdid LIKE 'Q%' ORDER BY stdid"),
            std::string(kStdid2) + " 0 1 90 a '' 1 1 10 | " + kStdid1 +
                " 1 0 NULL '' '' 1 1 10 | 10001 1 0 NULL '' '' 1 1 15 | 10002 0 1 1515.01 a '' 1 1 15 | "
                "10003 0 1 1514.99 a '' 1 1 15 | 10004 0 0 NULL '' 01 1 1 15 | 10005 1 0 NULL '' '' 1 1 0 | "
                "10006 0 0 NULL NULL NULL NULL NULL NULL | 4'--; 1 0 NULL '' '' 1 1 10 | 4';-- 0 1 120 d '' 1 2 10 | "
                "40001 1 0 NULL '' '' 1 1 15 | 40002 0 1 120 d '' 1 2 15 | "
                "40003 0 0 NULL NULL NULL NULL NULL 15 | H0001 0 0 NULL '' '; 1 1 10 | H0002 0 0 NULL NULL NULL NULL "
                "NULL 10 | H0003 0 0 NULL NULL NULL NULL NULL 10 | H0004 1 0 NULL '' '' 1 1 10 | "
                "H0006 1 0 NULL '' '' 1 1 10 | Q0001 1 0 NULL '' '' 1 1 10 | Q0002 0 1 190 a '' 1 1 0");
  EXPECT_EQ(untouched_rows(), untouched)
      << "a logged line leaves its records as they were, the writes before a refused one too; a value reaches "
         "only the records it names";
  EXPECT_EQ(f.rows("SELECT tranday, grpid, PayStas FROM KIV10_Agency ORDER BY tranday, grpid"),
            "2004-10-15 1 1 | 2004-10-15 2 0 | 2004-10-16 1 0")
      << "a posted line marks the agency row of its date and group paid; a logged one does not";
  EXPECT_EQ(f.log_lines(r), log);
  const std::string name = std::filesystem::path(*r.log_path).filename().string();
  EXPECT_TRUE(name.starts_with("err27_") && name.ends_with("_1.txt") && name.size() == 6 + 11 + 6) << name;
  EXPECT_EQ(std::filesystem::path(*r.log_path).parent_path(), f.suite.paths().work_dir());
  EXPECT_EQ(f.op.questions, std::vector<std::string>{"共  18 筆銷帳異常\r是否立刻查看" + *r.log_path + "檔案"});
  EXPECT_TRUE(f.op.opened.empty()) << "answered No";

  ASSERT_EQ(f.op.messages.size(), 4u);
  EXPECT_TRUE(f.op.messages[0].text.starts_with("錯誤:") && f.op.messages[0].text.find("refused") != std::string::npos);
  EXPECT_TRUE(f.op.messages[1].text.starts_with("錯誤:") && f.op.messages[1].text.ends_with("(94)"));
  EXPECT_TRUE(f.op.messages[2].text.starts_with("錯誤:") && f.op.messages[2].text.ends_with("(13)"));
  EXPECT_EQ(
      f.op.messages[0].lines_started * 10000 + f.op.messages[1].lines_started * 100 + f.op.messages[2].lines_started,
      141526u)
      << "each shown as its line ends, before the next, with the database committed and free";
  EXPECT_EQ(f.op.messages[3].text,
            "此 銷 帳 檔 案 之 總 筆 數 為 33\r\n\r\n入 帳 總 筆 數 為 30\r\n\r\n總 金 額 為 11276.50\r\n\r\n"
            "入 帳 總 金 額 為 9561.50");
  EXPECT_EQ(f.op.messages[3].icon, MessageIcon::information);
  EXPECT_EQ(f.op.messages[3].title, "Tavenor");
  std::vector<std::pair<std::int64_t, std::int64_t>> progress;
  for (int i = 1; i <= 33; ++i) progress.emplace_back(i, 33);
  progress.emplace_back(0, 0);
  EXPECT_EQ(f.op.progress, progress);
}

class StudentLookupFails : public import::LineOperations {
 public:
  LookupResult select_KIV7_student(Session&, Ctx&, S) override {
    return {writeoff::kFalse, OpStatus::line_failed, Error{13, "bad", false}};
  }
};

// The rare roads of a line: a failed transfer needs no amount, so a record
// without one still gets it recorded; a written-off record whose student
// lookup fails; a date off the calendar, which no payment record can carry.
// Then a statement the database cannot run fails every line alike: it is the
// database's fault, shown once, and the run ends with the lines before it kept.
TEST_P(ImportRun, RareRoadsOfALineThenAStatementTheDatabaseCannotRunEndsTheRunOnce) {
  RunFixture f(store());
  f.student_with_record("10001", "NULL");
  for (const char* id : {"10002", "10003", "10004", "10005"}) f.student_with_record(id, "100");
  // Only a line whose record moves to a second date removes fee items.
  f.seed(
      "UPDATE KIV8_Payment SET pay_record='1' WHERE stdid='10002';"
      "UPDATE KIV8_Payment SET tranday2='2004-11-15' WHERE stdid='10004';"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt) VALUES ('10004', '2004-11-15', 1, 100);"
      "INSERT INTO KIV9_Payitem (stdid, tranday, grpid) VALUES ('10004', '2004-10-15', 1);" +
      trigger_sql(store(), "broken", "AFTER DELETE ON KIV9_Payitem", "", "INSERT INTO nowhere VALUES (1)"));
  f.detail("10001", 10000, "07");
  f.detail("10002", 10000);
  f.lines.push_back(import::format_detail({"0930230", "00000000000000", "", 10000, "0", "10002", "01", ""}));
  for (const char* id : {"10003", "10004", "10005"}) f.detail(id, 10000);
  StudentLookupFails seam;
  const auto r = f.run(&seam);
  EXPECT_EQ(r.outcome, RunOutcome::error);
  EXPECT_EQ(f.rows("SELECT stdid, failfac, pay_record, payway, paystas FROM KIV8_Payment WHERE failfac<>'' OR "
                   "paystas<>0 ORDER BY stdid"),
            "10001 07 1 1 0 | 10003 '' 1 1 1");
  EXPECT_EQ(f.log_lines(r), (std::vector<std::string>{f.lines[1], ",查無學生資料", f.lines[2], ",查無繳費記錄檔"}));
  ASSERT_EQ(f.op.messages.size(), 2u) << "the date's plain message, then the database's";
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::none);
  EXPECT_EQ(f.op.messages[0].text, "型態不符合: 日期 '02/30/2004'");
  EXPECT_NE(f.op.messages[1].text.find("nowhere"), std::string::npos) << f.op.messages[1].text;
}

TEST_P(ImportRun, YesOpensTheLogAndAnEditorThatCannotStartIsAnErrorOfTheRun) {
  for (const std::string failure : {"", "no editor"}) {
    RunFixture f(store());
    f.detail("99999", 10000, "05");
    f.op.answer_yes = true;
    f.op.open_failure = failure;
    const auto r = f.run(nullptr, false);
    ASSERT_TRUE(r.log_path);
    EXPECT_EQ(f.op.opened, std::vector<std::string>{*r.log_path});
    EXPECT_TRUE(r.counters_ready) << "the counters were filled before the question";
    EXPECT_EQ(r.outcome, failure.empty() ? RunOutcome::completed : RunOutcome::error);
    std::string shown;  // no trailer, no summary: only the failure to start the editor
    for (const auto& m : f.op.messages) shown += std::to_string(static_cast<int>(m.icon)) + m.text;
    EXPECT_EQ(shown, failure.empty() ? "" : "1錯誤:" + failure + "(53)");
  }
}

TEST_P(ImportRun, RulesStopTheRunBeforeAnythingIsPosted) {
  RunFixture f(store());
  f.student_with_record("10001", "100");
  f.detail("10001", 10000);
  const std::string missing = f.suite.root() + "/it's --; \"x\"/post'1003;--\".dat", detail = f.lines[0] + "\r\n";
  const std::pair<std::string, std::string> cases[] = {
      {"   ", "請 選 擇 檔 案"},
      {missing, "找 不 到 檔 案 ( " + missing + " )"},
      {f.suite.root(), "找 不 到 檔 案 ( " + f.suite.root() + " )"},
      {f.suite.write_file("in/late.dat", detail + import::format_trailer(1, 10000, 1, 10000) + "\r\n" + detail),
       "此 資 料 檔 格 式 不 符"},
      {f.suite.write_file("in/sums.dat", detail + import::format_trailer(1, 10000, 1, 10001) + "\r\n"),
       "銷 帳 明 細 與 銷 帳 總 金 額 不 符\r\n\r\n請 檢 查 檔 案 內 容 是 否 正 確"},
  };
  for (const auto& [path, message] : cases) {
    f.op.messages.clear();
    const auto r = import::confirm_run({f.suite.paths(), false, path}, f.op);
    EXPECT_TRUE(r.outcome == RunOutcome::stopped && r.lines == 0 && r.focus_file_button == (path == "   ")) << path;
    ASSERT_EQ(f.op.messages.size(), 1u);
    EXPECT_EQ(f.op.messages[0].text, message);
    EXPECT_EQ(f.op.messages[0].icon, MessageIcon::information);
  }
  EXPECT_EQ(f.rows("SELECT count(*) FROM KIV8_Payment WHERE pay_record='1'"), "0");
  EXPECT_TRUE(std::filesystem::is_empty(f.suite.paths().work_dir())) << "no log";
}

namespace fs = std::filesystem;

std::map<std::string, std::string> files_in(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::directory_iterator(dir)) out[entry.path().filename()] = slurp(entry.path());
  return out;
}

// Writes over the first bytes of every page of `table` and its indexes.
void damage(const TempSuite& suite, const std::string& table) {
  std::vector<std::int64_t> pages;
  {
    auto db = suite.open();
    store::Statement roots(db, "SELECT rootpage FROM sqlite_master WHERE tbl_name=?1");
    roots.bind(1, table);
    while (roots.step()) pages.push_back(roots.integer(0));
  }
  std::fstream db(suite.paths().db_path(), std::ios::binary | std::ios::in | std::ios::out);
  for (const std::int64_t page : pages) db.seekp((page - 1) * 1024 + 100).write("\xde\xad\xbe\xef", 4);
}

// The damage is done to the database file's pages: a file store's case only.
TEST(BadEnvironment, DatabaseOrWorkFolderThatCannotBeUsedIsOneMessageWithNothingCountedLoggedOrChanged) {
  const struct {
    const char* name;
    std::function<void(const TempSuite&)> spoil;
    const char* code;
  } cases[] = {
      {"not a database", [](const TempSuite& s) { s.write_file("mdb/KIV.mdb", std::string(8192, 'x')); },
       "(-2147467259)"},
      {"the payment table's pages damaged: it opens, the first line's lookup fails",
       [](const TempSuite& s) { damage(s, "KIV8_Payment"); }, "(11)"},
      {"the agency table's pages damaged: the first line's write fails",
       [](const TempSuite& s) { damage(s, "KIV10_Agency"); }, "(11)"},
      {"a file where the work folder should be",
       [](const TempSuite& s) { fs::remove_all(s.paths().work_dir()), s.write_file("medi", "in the way"); },
       "/medi: Not a directory(20)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunFixture f;
    for (const char* id : {"10001", "10002", "10003"}) f.student_with_record(id, "100"), f.detail(id, 10000);
    const std::string file = f.write();
    c.spoil(f.suite);
    const auto before = files_in(f.suite.paths().mdb_dir());
    RecordingOperator op;  // the database may not open for a check
    const auto r = import::confirm_run({f.suite.paths(), false, file}, op);
    EXPECT_TRUE(r.outcome == RunOutcome::error && r.ok == 0 && !r.log_path) << "a failure of the machine, no line's";
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_TRUE(op.messages[0].icon == MessageIcon::critical && op.messages[0].text.starts_with("錯誤:") &&
                op.messages[0].text.ends_with(c.code))
        << op.messages[0].text;
    EXPECT_TRUE(files_in(f.suite.paths().mdb_dir()) == before) << "nothing created or changed";
  }
}

TEST_P(ImportRun, ErrorLogThatCannotBeWrittenEndsTheRunWithOneMessageASoundDatabaseAndHonestCounts) {
  RunFixture f(store());
  for (int i = 1; i <= 10; ++i) f.student_with_record(std::to_string(10000 + i), "100");
  f.seed(
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, payway) VALUES ('30003', '2004-10-15', 1, 100, '9')");
  for (int i = 1; i <= 5; ++i) f.detail(std::to_string(10000 + i), 10000);
  for (int i = 0; i < 1500; ++i) f.detail("30003", 10000);  // no student: logged as a failed insert
  for (int i = 6; i <= 10; ++i) f.detail(std::to_string(10000 + i), 10000);
  const std::string file = f.write();
  // Room for the database to grow by the journal's rows of the lines before
  // the log fills up: the log is to be the file that meets the limit.
  const rlim_t db_size = store() == StoreKind::file ? fs::file_size(f.suite.paths().db_path()) : 0;
  const rlim_t limit = std::max<rlim_t>(db_size, 32768) + 131072;
  const ToolRun end = run_tool(f.suite.root(), {"post", "--root", f.suite.root(), "--json", file}, limit);
  EXPECT_EQ(end.status, 2) << end.out;
  const std::string messages = json_field(end.out, "messages");
  EXPECT_TRUE(messages.starts_with("[\"錯誤:") && messages.ends_with("(27)\"]") &&
              messages.find("\",\"") == std::string::npos)
      << "one message, EFBIG: " << messages;
  EXPECT_EQ(json_field(end.out, "outcome") + " " + json_field(end.out, "ok"), "error 5");
  EXPECT_EQ(f.rows("SELECT stdid FROM KIV8_Payment WHERE paystas<>0 ORDER BY stdid"),
            "10001 | 10002 | 10003 | 10004 | 10005");
  EXPECT_EQ(f.rows("SELECT payway, payday FROM KIV8_Payment WHERE stdid='30003'"), "9 NULL")
      << "the line that could not be logged is undone";
  EXPECT_TRUE(store() == StoreKind::server || f.rows("PRAGMA integrity_check") == "ok");
  const std::string log = slurp(json_field(end.out, "log"));
  const std::string pair = f.lines[5] + "\r\n ,新增繳費記錄失敗 \r\n";
  std::string counted;
  for (int i = std::stoi(json_field(end.out, "errors")); i > 0; --i) counted += pair;
  EXPECT_FALSE(counted.empty());
  EXPECT_TRUE(log.size() <= limit && log.starts_with(counted) && log.size() < counted.size() + pair.size())
      << "each line counted logged whole, and no more than part of the one that did not fit";
}

constexpr int kWaitMs = 400;

// Another program takes the database as the run reaches its fourth line:
// for writing ('w'), on the file store for reading ('r'), or on the server one
// record's row, writing it without the suite's writer lock ('x'). It lets go
// after some pumps of the run's wait, or never (-1). The third line takes
// longer than a batch may stay open.
class Race : public import::LineOperations, public RecordingOperator {
 public:
  Race(const TempSuite& suite, char kind, int release_after)
      : suite_(suite), kind_(kind), release_after_(release_after) {}
  writeoff::LookupResult select_KIV8_Payment(Session& s, Ctx& c, S stdid, S grpid, S day) override {
    if (++lines_ == 3) std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return LineOperations::select_KIV8_Payment(s, c, stdid, grpid, day);
  }
  void show_progress(std::int64_t done, std::int64_t total) override {
    RecordingOperator::show_progress(done, total);
    if (done != 4) return;
    if (kind_ == 'w')
      return writer_.emplace(suite_).write("INSERT INTO KIV6_Group (GrpID, GrpName) VALUES (99, 'held')");
    reader_.emplace(suite_.open())
        .execute(kind_ == 'r' ? "BEGIN; SELECT count(*) FROM KIV8_Payment;"
                              : "BEGIN; UPDATE KIV8_Payment SET fee = 0 WHERE stdid = '10004'");
  }
  void pump_events() override {
    if ((writer_ || reader_) && pumps_while_held++ == release_after_) release();
  }
  void release() { writer_.reset(), reader_.reset(); }
  int pumps_while_held = 0;

 private:
  const TempSuite& suite_;
  std::optional<HeldWriteLock> writer_;
  std::optional<store::Connection> reader_;
  char kind_;
  int release_after_, lines_ = 0;
};

TEST_P(ImportRun, BusyDatabaseMakesTheRunWaitPumpingThenFinishOrEndWithOneMessageCountingOnlyLinesOnDisk) {
  const struct {
    char kind;
    int release_after, ok, lost;
  } cases[] = {{'w', 3, 6, 0}, {'r', 3, 6, 0}, {'x', 3, 6, 0}, {'w', -1, 3, 0}, {'r', -1, 3, 3}, {'x', -1, 3, 0}};
  for (const auto& c : cases) {
    // A server's readers block no writer; the file has no row locks.
    if ((c.kind == 'r' && store() == StoreKind::server) || (c.kind == 'x' && store() == StoreKind::file)) continue;
    SCOPED_TRACE(std::string(1, c.kind) + " letting go after " + std::to_string(c.release_after));
    RunFixture f(store());
    for (int i = 1; i <= 6; ++i)
      f.student_with_record(std::to_string(10000 + i), "100"), f.detail(std::to_string(10000 + i), 10000);
    Race race(f.suite, c.kind, c.release_after);
    const auto r = import::confirm_run({f.suite.paths(), false, f.write(), kWaitMs}, race, &race);
    race.release();
    const bool finished = c.ok == 6;
    EXPECT_EQ(r.outcome, finished ? import::RunOutcome::completed : import::RunOutcome::error);
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(f.rows("SELECT count(*), max(stdid) FROM KIV8_Payment WHERE paystas<>0"),
              std::to_string(c.ok) + " " + std::to_string(10000 + c.ok))
        << "the lines counted are the first ones, and on disk";
    ASSERT_EQ(race.messages.size(), 1u);
    const auto& m = race.messages[0];
    EXPECT_TRUE(finished ? m.icon == MessageIcon::information
                         : m.icon == MessageIcon::critical && m.text.starts_with("錯誤:") && m.text.ends_with("(5)"))
        << m.text;
    EXPECT_TRUE(finished ? race.pumps_while_held == 4 : race.pumps_while_held >= kWaitMs / 50 - 2)
        << race.pumps_while_held << " pumps while the other program held the database";
    std::vector<std::string> lost;
    for (int i = 0; i < c.lost; ++i) lost.insert(lost.end(), {f.lines[3 + i], " ,銷帳寫入失敗 "});
    EXPECT_EQ(f.log_lines(r), lost) << "a batch lost with its commit is logged, not counted";
    EXPECT_EQ(r.errors, c.lost);
  }
}

}  // namespace
}  // namespace kiv::testing
