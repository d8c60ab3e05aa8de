#include <ctime>

#include "import/collection_file.h"
#include "import/error_log.h"
#include "run_fixture.h"

namespace kiv::testing {
namespace {

using import::RunOutcome;

TEST(ImportRun, ThreeLinesAllPostedShowTheTrailersSummaryAndNoLog) {
  RunFixture f;
  f.student_with_record("10001", "1500");
  f.student_with_record("10002", "1000", "15");
  f.student_with_record("10003", "200.5");
  f.detail("10001", 150000);
  f.detail("10002", 101500);
  f.detail("10003", 20050);
  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_TRUE(r.counters_ready);
  EXPECT_EQ((std::vector<std::int64_t>{r.lines, r.ok, r.failed, r.errors}), (std::vector<std::int64_t>{3, 3, 0, 0}));
  EXPECT_EQ(r.posted_cents, 271550);
  EXPECT_EQ(r.posted_total(), 2716) << "rounded once, half to even, from the exact sum";
  EXPECT_FALSE(r.log_path);
  EXPECT_EQ(f.files_in_work_dir(), 0);
  EXPECT_TRUE(f.op.questions.empty());
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text,
            "此 銷 帳 檔 案 之 總 筆 數 為 3\r\n\r\n入 帳 總 筆 數 為 3\r\n\r\n總 金 額 為 2725.49\r\n\r\n"
            "入 帳 總 金 額 為 2715.50");
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::information);
  EXPECT_EQ(f.op.messages[0].title, "Tavenor");
  EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE paystas<>0 AND pay_record='1'"), "3");
  EXPECT_EQ(f.op.progress.front(), (std::pair<std::int64_t, std::int64_t>{1, 3}));
  EXPECT_EQ(f.op.progress.back(), (std::pair<std::int64_t, std::int64_t>{0, 0})) << "progress cleared at the end";
}

TEST(ImportRun, ExactAmountPaysInFullOneHundredthOffDiffersAndAFailedTransferCountsApart) {
  RunFixture f;
  for (const char* id : {"10001", "10002", "10003", "10004"}) f.student_with_record(id, "1500", "15");
  f.detail("10001", 151500);
  f.detail("10002", 151501);
  f.detail("10003", 151499);
  f.detail("10004", 151500, "01");
  const auto r = f.run();
  EXPECT_EQ((std::vector<std::int64_t>{r.lines, r.ok, r.failed, r.errors}), (std::vector<std::int64_t>{4, 3, 1, 0}));
  EXPECT_EQ(r.posted_cents, 454500) << "a failed transfer adds nothing";
  EXPECT_EQ(f.query("SELECT group_concat(stdid||':'||paystas||'/'||Unequal||'/'||ifnull(realamt,'-')||'/'||"
                    "unusual||'/'||failfac||'/'||pay_record, ' ') FROM KIV8_Payment"),
            "10001:1/0/-///1 10002:0/1/1515.01/a//1 10003:0/1/1514.99/a//1 10004:0/0/-//01/1");
}

TEST(ImportRun, EveryLogMessageHasItsExactTextAndTheQuestionOffersTheLog) {
  RunFixture f;
  f.student_with_record("10001", "1500");
  f.seed(
      "INSERT INTO KIV7_Student (stdid, grade, clsid, seatno) VALUES ('20001', '3', '2', '15'), "
      "('20002', ' 4 ', '1', '7'), ('20003', '', '1', '1');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, pay_record, payway, paystas) VALUES "
      "('20001', '2004-10-15', 1, 100, '1', '1', 1), ('20002', '2004-10-15', 1, 100, '1', '3', 1), "
      "('20003', '2004-10-15', 1, 100, '1', '1', 1), ('20004', '2004-10-15', 1, 100, '1', '1', 1);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt) VALUES ('30001', '2004-10-15', 1, 100), "
      "('30002', '2004-10-15', 1, 100);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt) VALUES "
      "('30003', '2004-10-15', 1, 'PAYER', 'XX1234567', 100);");
  f.lines.push_back(import::format_detail({"0931015", "", "", 150000, "0", "10001", "03", ""}));
  for (const char* id : {"20001", "20002", "20003", "20004"}) f.detail(id, 10000);
  f.detail("30001", 10000, "05");
  f.detail("30002", 10000);
  f.detail("ZZZZZ", 10000, "", "1", "PAYER", "00000001234567");
  const auto r = f.run();

  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_EQ(r.errors, 8);
  EXPECT_EQ(r.ok, 0);
  const auto log = f.log_lines(r);
  ASSERT_EQ(log.size(), 16u);
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(log[2 * i], f.lines[i]) << "line copied byte for byte";
  const char* reasons[] = {
      ",查無繳費記錄檔", "3年2班15號 重複銷帳 ", "4年1班7號,已有現金繳費,不能重複銷帳", " 重複銷帳 ", " 重複銷帳 ",
      " ,查無繳費記錄 ", " ,新增繳費記錄失敗 ",  " 合併轉帳寫入失敗,查無繳費記錄 "};
  for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(log[2 * i + 1], reasons[i]) << "line " << i;

  const std::string name = std::filesystem::path(*r.log_path).filename().string();
  EXPECT_TRUE(name.starts_with("err27_") && name.ends_with(".txt") && name.size() == 6 + 11 + 4) << name;
  EXPECT_EQ(std::filesystem::path(*r.log_path).parent_path(), f.suite.paths().work_dir());
  ASSERT_EQ(f.op.questions.size(), 1u);
  EXPECT_EQ(f.op.questions[0], "共  8 筆銷帳異常\r是否立刻查看" + *r.log_path + "檔案");
  EXPECT_TRUE(f.op.opened.empty()) << "answered No";
}

TEST(ImportRun, YesOpensTheLogAndAnEditorThatCannotStartIsAnErrorOfTheRun) {
  for (const std::string failure : {"", "no editor"}) {
    RunFixture f;
    f.detail("99999", 10000);
    f.op.answer_yes = true;
    f.op.open_failure = failure;
    const auto r = f.run();
    ASSERT_TRUE(r.log_path);
    EXPECT_EQ(f.op.questions.at(0), "共  1 筆銷帳異常\r是否立刻查看" + *r.log_path + "檔案");
    EXPECT_EQ(f.op.opened, std::vector<std::string>{*r.log_path});
    EXPECT_TRUE(r.counters_ready) << "the counters were filled before the question";
    EXPECT_EQ(r.outcome, failure.empty() ? RunOutcome::completed : RunOutcome::error);
    if (!failure.empty()) {
      EXPECT_EQ(f.op.messages.back().icon, MessageIcon::critical);
      EXPECT_NE(f.op.messages.back().text.find(failure), std::string::npos);
    }
  }
}

TEST(ImportRun, LogNameTakenGetsASuffixAndTwoFailedLinesGiveFourLinesInOrder) {
  RunFixture f;
  f.detail("99998", 10000);
  f.student_with_record("10001", "100");
  f.detail("10001", 10000);
  f.detail("99999", 20000);
  std::filesystem::create_directories(f.suite.paths().work_dir());
  for (std::time_t t = std::time(nullptr), end = t + 5; t < end; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    std::ofstream(import::error_log_path(f.suite.paths().work_dir(), local)) << "another run's log";
  }
  const auto r = f.run();
  ASSERT_TRUE(r.log_path);
  EXPECT_TRUE(r.log_path->ends_with("_1.txt")) << *r.log_path;
  const auto log = f.log_lines(r);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], f.lines[0]);
  EXPECT_EQ(log[2], f.lines[2]);
  EXPECT_EQ(r.ok, 1);
}

TEST(ImportRun, RulesStopTheRunBeforeAnythingIsPosted) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.detail("10001", 10000);
  const std::string missing = f.suite.root() + "/nowhere/post1003.dat";
  const std::string detail = f.lines[0] + "\r\n";
  const std::string after_trailer = detail + import::format_trailer(1, 10000, 1, 10000) + "\r\n" + detail;
  const std::string totals_differ = detail + import::format_trailer(1, 10000, 1, 10001) + "\r\n";
  struct Case {
    std::string path, message;
  } cases[] = {
      {"   ", "請 選 擇 檔 案"},
      {missing, "找 不 到 檔 案 ( " + missing + " )"},
      {f.suite.root(), "找 不 到 檔 案 ( " + f.suite.root() + " )"},
      {f.suite.write_file("in/late.dat", after_trailer), import::kMsgMalformed},
      {f.suite.write_file("in/sums.dat", totals_differ), import::kMsgTotalsDiffer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    f.op.messages.clear();
    const auto r = import::confirm_run({f.suite.paths(), false, c.path}, f.op);
    EXPECT_EQ(r.outcome, RunOutcome::stopped);
    EXPECT_EQ(r.focus_file_button, c.path == "   ");
    EXPECT_EQ(r.lines, 0);
    ASSERT_EQ(f.op.messages.size(), 1u);
    EXPECT_EQ(f.op.messages[0].text, c.message);
    EXPECT_EQ(f.op.messages[0].icon, MessageIcon::information);
  }
  EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE pay_record='1'"), "0");
  EXPECT_EQ(f.files_in_work_dir(), 0) << "no log";
}

TEST(ImportRun, FileWithoutTrailerPostsAndCountsWithoutSummary) {
  RunFixture f;
  f.student_with_record("10001", "100");
  f.detail("10001", 10000, "07");
  const auto r = f.run(nullptr, false);
  EXPECT_EQ(r.outcome, RunOutcome::completed);
  EXPECT_TRUE(r.counters_ready);
  EXPECT_EQ(r.failed, 1);
  EXPECT_TRUE(f.op.messages.empty());
}

}  // namespace
}  // namespace kiv::testing
