#include <gtest/gtest.h>

#include <filesystem>

#include "recording_operator.h"
#include "source/transfer_source.h"
#include "store/statement.h"
#include "temp_suite.h"

namespace kiv::source {
namespace {

namespace fs = std::filesystem;
using kiv::testing::RecordingOperator;
using kiv::testing::TempSuite;

void remember(const TempSuite& suite, const std::string& drive, const std::string& dir) {
  auto db = suite.open();
  store::Statement st(db, "INSERT INTO KIV2_School (tranidrive, tranidir) VALUES (?1, ?2)");
  st.bind(1, drive).bind(2, dir).run();
}

void expect_default(const TempSuite& suite, const SourceChoice& choice) {
  EXPECT_EQ(choice.path_text, suite.root() + "/medi/");
  EXPECT_EQ(choice.dialog_dir, suite.root() + "/medi/");
}

TEST(GetDir, NothingUsableRememberedGivesTheDefaultPathSilently) {
  TempSuite suite;
  RecordingOperator op;
  fs::remove_all(suite.paths().work_dir());
  expect_default(suite, get_dir(suite.paths(), op));  // empty table
  EXPECT_TRUE(fs::is_directory(suite.paths().work_dir())) << "the work folder is made when missing";

  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('/', NULL)");
  expect_default(suite, get_dir(suite.paths(), op));
  suite.exec("UPDATE KIV2_School SET tranidrive=NULL, tranidir='   '");
  expect_default(suite, get_dir(suite.paths(), op));
  for (const char* drive : {"/", ""}) {  // a folder that is gone, with and without a drive
    suite.exec("UPDATE KIV2_School SET tranidrive='" + std::string(drive) + "', tranidir='" + suite.root() + "/gone/'");
    expect_default(suite, get_dir(suite.paths(), op));
  }
  EXPECT_TRUE(op.messages.empty());
}

TEST(GetDir, RememberedFolderIsRestored) {
  TempSuite suite;
  RecordingOperator op;
  const std::string dir = suite.root() + "/data/";
  fs::create_directories(dir);

  remember(suite, "/", "  " + dir + "  ");  // blanks around the values are trimmed
  SourceChoice choice = get_dir(suite.paths(), op);
  EXPECT_EQ(choice.path_text, dir);
  EXPECT_EQ(choice.dialog_dir, dir);

  // Without a drive the path box shows only the drive, the root here, while
  // the dialog still opens in the folder.
  suite.exec("UPDATE KIV2_School SET tranidrive=' '");
  choice = get_dir(suite.paths(), op);
  EXPECT_EQ(choice.path_text, "/");
  EXPECT_EQ(choice.dialog_dir, dir);

  // ...unless the folder does not end in "/".
  suite.exec("UPDATE KIV2_School SET tranidrive=NULL, tranidir='" + suite.root() + "/data'");
  choice = get_dir(suite.paths(), op);
  EXPECT_EQ(choice.path_text, suite.root() + "/data");
  EXPECT_EQ(choice.dialog_dir, suite.root() + "/data");

  // Only the first row counts.
  fs::create_directories(suite.root() + "/second/");
  remember(suite, "/", suite.root() + "/second/");
  EXPECT_EQ(get_dir(suite.paths(), op).path_text, suite.root() + "/data");
  EXPECT_TRUE(op.messages.empty());
}

TEST(GetDir, UnreachableFolderSaysDiskNotReadyAndFallsBack) {
  TempSuite suite;
  const std::string file = suite.write_file("plain.txt", "x");
  for (const std::string& dir : {file, file + "/", file + "/below/"}) {
    SCOPED_TRACE(dir);
    for (const char* drive : {"/", ""}) {
      suite.exec("DELETE FROM KIV2_School");
      remember(suite, drive, dir);
      RecordingOperator op;
      expect_default(suite, get_dir(suite.paths(), op));
      ASSERT_EQ(op.messages.size(), 1u);
      EXPECT_EQ(op.messages[0].text, "磁 碟 未 就 緒\r\n\r\n回 到 預 設 路 徑");
      EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
      EXPECT_EQ(op.messages[0].title, "Tavenor");
    }
  }
}

TEST(GetDir, DatabaseThatCannotBeOpenedIsReportedAndNothingIsCreated) {
  TempSuite suite(false);
  RecordingOperator op;
  expect_default(suite, get_dir(suite.paths(), op));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
  EXPECT_EQ(op.messages[0].title, "Tavenor");
  EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:"));
  EXPECT_TRUE(op.messages[0].text.ends_with("(-2147467259)"));
  EXPECT_FALSE(fs::exists(suite.paths().db_path()));

  suite.write_file("mdb/KIV.mdb", std::string(4096, 'g'));
  RecordingOperator garbage;
  expect_default(suite, get_dir(suite.paths(), garbage));
  ASSERT_EQ(garbage.messages.size(), 1u);
  EXPECT_TRUE(garbage.messages[0].text.ends_with("(-2147467259)"));
}

TEST(GetDir, StatementFailureIsReportedWithTheStoreNumber) {
  TempSuite suite;
  RecordingOperator op;
  suite.exec("DROP TABLE KIV2_School");
  expect_default(suite, get_dir(suite.paths(), op));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:"));
  EXPECT_TRUE(op.messages[0].text.ends_with("(1)")) << op.messages[0].text;
}

TEST(GetDir, WorkFolderThatCannotBeMadeIsReportedAndFallsBack) {
  TempSuite suite;
  RecordingOperator op;
  fs::remove_all(suite.paths().work_dir());
  suite.write_file("medi", "a file where the folder belongs");
  fs::create_directories(suite.root() + "/data/");
  remember(suite, "/", suite.root() + "/data/");
  expect_default(suite, get_dir(suite.paths(), op));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:"));
  EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
  EXPECT_FALSE(op.messages[0].text.ends_with("(0)"));
}

}  // namespace
}  // namespace kiv::source
