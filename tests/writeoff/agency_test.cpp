#include "writeoff_fixture.h"

namespace kiv::writeoff {
namespace {

using Agency = WriteoffTest;

TEST_F(Agency, MarksOnlyTheAgencyRowOfTheDateAndGroupPaid) {
  seed(
      "INSERT INTO KIV10_Agency (tranday, grpid, PayStas) VALUES ('2006-03-15', 7, 0), ('2006-03-15', 8, 0), "
      "('2006-03-16', 7, 0), ('2006-03-15', 9, -1)");
  ASSERT_TRUE(update_kiv10(session, kDay, "07").ok());
  EXPECT_EQ(kiv::testing::query_text(db,
                                     "SELECT group_concat(tranday||'/'||grpid||'='||PayStas, ' ') FROM (SELECT * FROM "
                                     "KIV10_Agency ORDER BY rowid)"),
            "2006-03-15/7=1 2006-03-15/8=0 2006-03-16/7=0 2006-03-15/9=-1");

  ASSERT_TRUE(update_kiv10(session, kDay, "07").ok()) << "marking again changes nothing";
  ASSERT_TRUE(update_kiv10(session, "2007/01/01", "7").ok()) << "no agency row: nothing to do";
  EXPECT_EQ(count("SELECT count(*) FROM KIV10_Agency WHERE PayStas=1"), 1);
  EXPECT_TRUE(op.messages.empty());
}

TEST_F(Agency, AGroupTextThatIsNoNumberFailsTheLineWithTheStandardMessage) {
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 0)");
  for (const char* group : {"", "x7", "7 8"}) {
    op.messages.clear();
    const OpResult result = update_kiv10(session, kDay, group);
    EXPECT_EQ(result.status, OpStatus::line_failed) << '"' << group << '"';
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_EQ(op.messages[0].text.rfind("錯誤:", 0), 0u);
    EXPECT_NE(op.messages[0].text.find("(13)"), std::string::npos);
  }
  EXPECT_EQ(count("SELECT PayStas FROM KIV10_Agency"), 0) << "an empty group is not group 0";
}

TEST_F(Agency, ABusyDatabaseIsAFailureOfTheEnvironmentAndShowsNothing) {
  seed("INSERT INTO KIV10_Agency (tranday, grpid) VALUES ('2006-03-15', 7)");
  store::Connection other = suite.open();
  other.execute("BEGIN IMMEDIATE");
  db.set_busy_timeout_ms(100);
  const OpResult result = update_kiv10(session, kDay, "7");
  other.execute("ROLLBACK");
  EXPECT_EQ(result.status, OpStatus::env_failed);
  EXPECT_TRUE(result.error.environmental);
  EXPECT_TRUE(op.messages.empty());
}

}  // namespace
}  // namespace kiv::writeoff
