// The import run end to end on real suite databases: outcomes, counters,
// messages and the error log.
#include <gtest/gtest.h>

#include "run_fixture.h"
#include "import/collection_file.h"
#include "import/error_log.h"
#include "store/statement.h"

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
  EXPECT_EQ(r.lines, 3);
  EXPECT_EQ(r.ok, 3);
  EXPECT_EQ(r.failed, 0);
  EXPECT_EQ(r.errors, 0);
  EXPECT_EQ(r.posted_cents, 271550);
  EXPECT_EQ(r.posted_total(), 2716) << "rounded once, half to even, from the exact sum";
  EXPECT_FALSE(r.log_path);
  EXPECT_TRUE(f.op.questions.empty());
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_EQ(f.op.messages[0].text,
            "此 銷 帳 檔 案 之 總 筆 數 為 3\r\n\r\n入 帳 總 筆 數 為 3\r\n\r\n總 金 額 為 2725.49\r\n\r\n"
            "入 帳 總 金 額 為 2715.50");
  EXPECT_EQ(f.op.messages[0].icon, MessageIcon::information);
  EXPECT_EQ(f.op.messages[0].title, "Tavenor");
  EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE paystas<>0 AND pay_record='1'"), "3");
  EXPECT_TRUE(std::filesystem::is_empty(f.suite.paths().work_dir()) ||
              !std::filesystem::exists(f.suite.paths().work_dir() + "/err27_"));
  EXPECT_EQ(f.op.progress.back(), (std::pair<std::int64_t, std::int64_t>{0, 0})) << "progress cleared at the end";
  EXPECT_EQ(f.op.progress.front(), (std::pair<std::int64_t, std::int64_t>{1, 3}));
}

TEST(ImportRun, ExactAmountIsPaidInFullAndOneHundredthOffIsWrittenOffAsDiffering) {
  RunFixture f;
  f.student_with_record("10001", "1500", "15");
  f.student_with_record("10002", "1500", "15");
  f.student_with_record("10003", "1500", "15");
  f.detail("10001", 151500);
  f.detail("10002", 151501);
  f.detail("10003", 151499);
  const auto r = f.run();
  EXPECT_EQ(r.ok, 3);
  EXPECT_EQ(f.query("SELECT paystas || '/' || Unequal || '/' || ifnull(realamt,'null') FROM KIV8_Payment "
                    "WHERE stdid='10001'"),
            "1/0/null");
  EXPECT_EQ(f.query("SELECT Unequal || '/' || realamt || '/' || unusual FROM KIV8_Payment WHERE stdid='10002'"),
            "1/1515.01/a");
  EXPECT_EQ(f.query("SELECT Unequal || '/' || realamt FROM KIV8_Payment WHERE stdid='10003'"), "1/1514.99");
}

TEST(ImportRun, FailedTransferCountsAsFailedOnlyAndAddsNothing) {
  RunFixture f;
  f.student_with_record("10001", "1500");
  f.student_with_record("10002", "1500");
  f.detail("10001", 150000, "01");
  f.detail("10002", 150000);
  const auto r = f.run();
  EXPECT_EQ(r.ok, 1);
  EXPECT_EQ(r.failed, 1);
  EXPECT_EQ(r.posted_cents, 150000);
  EXPECT_EQ(f.query("SELECT failfac || '/' || pay_record FROM KIV8_Payment WHERE stdid='10001'"), "01/1");
}

TEST(ImportRun, EveryLogMessageHasItsExactTextAndTheQuestionOffersTheLog) {
  RunFixture f;
  f.student_with_record("10001", "1500");  // no record for its group 3 line below
  f.seed(
      // written off already: by post, and in cash (class label heads the message)
      "INSERT INTO KIV7_Student (stdid, grade, clsid, seatno) VALUES ('20001', '3', '2', '15'), "
      "('20002', ' 4 ', '1', '7'), ('20003', '', '1', '1');"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt, pay_record, payway, paystas) VALUES "
      "('20001', '2004-10-15', 1, 100, '1', '1', 1), ('20002', '2004-10-15', 1, 100, '1', '3', 1), "
      "('20003', '2004-10-15', 1, 100, '1', '1', 1), ('20004', '2004-10-15', 1, 100, '1', '1', 1);"
      // a record whose student row is gone: not found by the write-off lookup
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, payamt) VALUES ('30001', '2004-10-15', 1, 100), "
      "('30002', '2004-10-15', 1, 100);"
      "INSERT INTO KIV8_Payment (stdid, tranday, grpid, acctid, offno, payamt) VALUES "
      "('30003', '2004-10-15', 1, 'PAYER', 'XX1234567', 100);");
  f.lines.push_back(import::format_detail({"0931015", "", "", 150000, "0", "10001", "03", ""}));
  f.detail("20001", 10000);
  f.detail("20002", 10000);
  f.detail("20003", 10000);
  f.detail("20004", 10000);  // no student row at all
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
  EXPECT_EQ(log[1], ",查無繳費記錄檔");
  EXPECT_EQ(log[3], "3年2班15號 重複銷帳 ");
  EXPECT_EQ(log[5], "4年1班7號,已有現金繳費,不能重複銷帳");
  EXPECT_EQ(log[7], " 重複銷帳 ") << "no grade, no label";
  EXPECT_EQ(log[9], " 重複銷帳 ") << "no student row, no label";
  EXPECT_EQ(log[11], " ,查無繳費記錄 ");
  EXPECT_EQ(log[13], " ,新增繳費記錄失敗 ");
  EXPECT_EQ(log[15], " 合併轉帳寫入失敗,查無繳費記錄 ");

  const std::string name = std::filesystem::path(*r.log_path).filename().string();
  EXPECT_TRUE(name.starts_with("err27_") && name.ends_with(".txt") && name.size() == 6 + 11 + 4) << name;
  EXPECT_EQ(std::filesystem::path(*r.log_path).parent_path(), f.suite.paths().work_dir());
  ASSERT_EQ(f.op.questions.size(), 1u);
  EXPECT_EQ(f.op.questions[0], "共  8 筆銷帳異常\r是否立刻查看" + *r.log_path + "檔案");
  EXPECT_TRUE(f.op.opened.empty()) << "answered No";
}

TEST(ImportRun, YesOpensTheLogAndAnEditorThatCannotStartIsAnErrorOfTheRun) {
  RunFixture f;
  f.detail("99999", 10000);
  f.op.answer_yes = true;
  auto r = f.run();
  ASSERT_TRUE(r.log_path);
  EXPECT_EQ(f.op.questions[0], "共  1 筆銷帳異常\r是否立刻查看" + *r.log_path + "檔案");
  ASSERT_EQ(f.op.opened.size(), 1u);
  EXPECT_EQ(f.op.opened[0], *r.log_path);
  EXPECT_EQ(r.outcome, RunOutcome::completed);

  RunFixture g;
  g.detail("99999", 10000);
  g.op.answer_yes = true;
  g.op.open_failure = "no editor";
  r = g.run();
  EXPECT_EQ(r.outcome, RunOutcome::error);
  EXPECT_TRUE(r.counters_ready) << "the counters were filled before the question";
  EXPECT_EQ(g.op.messages.back().icon, MessageIcon::critical);
  EXPECT_NE(g.op.messages.back().text.find("no editor"), std::string::npos);
}

TEST(ImportRun, LogNameTakenGetsASuffixAndTwoFailedLinesGiveFourLinesInOrder) {
  RunFixture f;
  f.detail("99998", 10000);
  f.student_with_record("10001", "100");
  f.detail("10001", 10000);
  f.detail("99999", 20000);
  // Every name this run could pick in the next seconds is taken.
  const std::time_t now = std::time(nullptr);
  for (int s = 0; s < 5; ++s) {
    const std::time_t t = now + s;
    std::tm local{};
    localtime_r(&t, &local);
    const std::string taken = import::error_log_path(f.suite.paths().work_dir(), local);
    std::filesystem::create_directories(f.suite.paths().work_dir());
    std::ofstream(taken) << "another run's log";
  }
  const auto r = f.run();
  ASSERT_TRUE(r.log_path);
  EXPECT_NE(r.log_path->find("_1.txt"), std::string::npos) << *r.log_path;
  const auto log = f.log_lines(r);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], f.lines[0]);
  EXPECT_EQ(log[2], f.lines[2]);
  EXPECT_EQ(r.ok, 1);
}

TEST(ImportRun, RulesStopTheRunBeforeAnythingIsPosted) {
  {
    RunFixture f;
    const auto r = import::confirm_run({f.suite.paths(), false, "   "}, f.op);
    EXPECT_EQ(r.outcome, RunOutcome::stopped);
    EXPECT_TRUE(r.focus_file_button);
    EXPECT_EQ(f.message_texts(), std::vector<std::string>{"請 選 擇 檔 案"});
    EXPECT_EQ(f.op.messages[0].icon, MessageIcon::information);
  }
  {
    RunFixture f;
    const std::string missing = f.suite.root() + "/nowhere/post1003.dat";
    const auto r = import::confirm_run({f.suite.paths(), false, missing}, f.op);
    EXPECT_EQ(r.outcome, RunOutcome::stopped);
    EXPECT_EQ(f.message_texts(), std::vector<std::string>{"找 不 到 檔 案 ( " + missing + " )"});
    EXPECT_EQ(import::confirm_run({f.suite.paths(), false, f.suite.root()}, f.op).outcome, RunOutcome::stopped)
        << "a folder is not a file";
  }
  for (const bool malformed : {true, false}) {
    RunFixture f;
    f.student_with_record("10001", "100");
    f.detail("10001", 10000);
    std::string content = f.lines[0] + "\r\n";
    content += malformed ? import::format_trailer(1, 10000, 1, 10000) + "\r\n" + f.lines[0] + "\r\n"
                         : import::format_trailer(1, 10000, 1, 10001) + "\r\n";
    const auto path = f.suite.write_file("in/post1003.dat", content);
    const auto r = import::confirm_run({f.suite.paths(), false, path}, f.op);
    EXPECT_EQ(r.outcome, RunOutcome::stopped);
    EXPECT_EQ(r.lines, 0);
    EXPECT_EQ(f.message_texts(), std::vector<std::string>{malformed ? std::string(import::kMsgMalformed)
                                                                    : std::string(import::kMsgTotalsDiffer)});
    EXPECT_EQ(f.query("SELECT count(*) FROM KIV8_Payment WHERE pay_record='1'"), "0");
    EXPECT_FALSE(r.log_path);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(f.suite.paths().work_dir()), {}), 0);
  }
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

TEST(ImportRun, DatabaseThatCannotBeOpenedStopsBeforePosting) {
  RunFixture f;
  f.detail("10001", 10000);
  std::filesystem::remove(f.suite.paths().db_path());
  const auto r = f.run();
  EXPECT_EQ(r.outcome, RunOutcome::error);
  ASSERT_EQ(f.op.messages.size(), 1u);
  EXPECT_TRUE(f.op.messages[0].text.ends_with("(-2147467259)")) << f.op.messages[0].text;
  EXPECT_FALSE(std::filesystem::exists(f.suite.paths().db_path())) << "never created by a run";
}

}  // namespace
}  // namespace kiv::testing
