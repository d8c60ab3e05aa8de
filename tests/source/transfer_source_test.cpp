#include "source/transfer_source.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "recording_operator.h"
#include "store/statement.h"
#include "temp_suite.h"
#include "tool_run.h"

namespace kiv::source {
namespace {

namespace fs = std::filesystem;
using kiv::testing::query_text;
using kiv::testing::slurp;

class TransferSource : public ::testing::Test {
 protected:
  void remember(const char* drive, const std::string& dir) {
    auto db = suite.open();
    db.execute("DELETE FROM KIV2_School");
    store::Statement st(db, "INSERT INTO KIV2_School (tranidrive, tranidir) VALUES (?1, ?2)");
    if (drive != nullptr) st.bind(1, drive);
    st.bind(2, dir).run();
  }
  void expect_default(const SourceChoice& choice) {
    EXPECT_EQ(choice.path_text, suite.root() + "/medi/");
    EXPECT_EQ(choice.dialog_dir, suite.root() + "/medi/");
  }
  void expect_one(const std::string& start, const std::string& end, MessageIcon icon = MessageIcon::critical) {
    ASSERT_EQ(op.messages.size(), 1u);
    EXPECT_TRUE(op.messages[0].text.starts_with(start)) << op.messages[0].text;
    EXPECT_TRUE(op.messages[0].text.ends_with(end)) << op.messages[0].text;
    EXPECT_EQ(op.messages[0].icon, icon);
    EXPECT_EQ(op.messages[0].title, "Tavenor");
    op.messages.clear();
  }

  kiv::testing::TempSuite suite;
  kiv::testing::RecordingOperator op;
};

TEST_F(TransferSource, GetDirRestoresAUsableFolderOrFallsBackToTheWorkFolder) {
  fs::remove_all(suite.paths().work_dir());
  expect_default(get_dir(suite.paths(), op));  // empty table
  EXPECT_TRUE(fs::is_directory(suite.paths().work_dir())) << "the work folder is made when missing";
  remember("/", suite.root() + "/gone/");
  expect_default(get_dir(suite.paths(), op));
  remember(nullptr, "   ");
  expect_default(get_dir(suite.paths(), op));
  const std::string dir = suite.root() + "/data/";
  fs::create_directories(dir);
  const struct {
    const char* drive;
    std::string stored, path_text, dialog_dir;
  } cases[] = {
      {"/", "  " + dir + "  ", dir, dir},  // blanks trimmed
      {" ", dir, "/", dir},                // no drive: the path box shows the root
      {nullptr, suite.root() + "/data", suite.root() + "/data", suite.root() + "/data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    remember(c.drive, c.stored);
    const SourceChoice choice = get_dir(suite.paths(), op);
    EXPECT_EQ(choice.path_text, c.path_text);
    EXPECT_EQ(choice.dialog_dir, c.dialog_dir);
  }
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('/', '/')");
  EXPECT_EQ(get_dir(suite.paths(), op).path_text, suite.root() + "/data");
  EXPECT_TRUE(op.messages.empty());
  const std::string file = suite.write_file("plain.txt", "x");
  for (const std::string& unreadable : {file, file + "/below/"}) {
    remember("/", unreadable);
    expect_default(get_dir(suite.paths(), op));
    expect_one("磁 碟 未 就 緒\r\n\r\n回 到 預 設 路 徑", "");
  }
  suite.exec("DROP TABLE KIV2_School");
  expect_default(get_dir(suite.paths(), op));
  expect_one("錯誤:", "(-2147467259)");  // not the suite's database

  fs::remove(suite.paths().db_path());
  expect_default(get_dir(suite.paths(), op));
  expect_one("錯誤:", "(-2147467259)");
  EXPECT_FALSE(fs::exists(suite.paths().db_path())) << "nothing is created in its place";

  fs::remove_all(suite.paths().work_dir());
  suite.write_file("medi", "a file where the work folder belongs");
  expect_default(get_dir(suite.paths(), op));
  expect_one("錯誤:", "(" + std::to_string(ENOTDIR) + ")");
}

TEST_F(TransferSource, UpdateDriveKeepsFirstCharacterAndFolderUpToTheLastSlashInEveryRowButMakesNoRow) {
  update_drive(suite.paths(), op, "/data/post1003.dat");
  {
    auto db = suite.open();
    EXPECT_EQ(query_text(db, "SELECT count(*) FROM KIV2_School"), "0");
  }
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('a', 'x/'), ('b', 'y/')");
  const struct {
    const char *path_text, *drive, *dir;
  } cases[] = {{"/data/in/post1003.dat", "/", "/data/in/"},
               {"abc", "a", ""},
               {"", "", ""},
               {"資料/post1003.dat", "資", "資料/"},  // a whole character
               {"it's; --/post1003.dat", "i", "it's; --/"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path_text);
    update_drive(suite.paths(), op, c.path_text);
    auto db = suite.open();
    EXPECT_EQ(query_text(db, "SELECT group_concat(tranidrive || '|' || tranidir, ',') FROM KIV2_School"),
              std::string(c.drive) + "|" + c.dir + "," + c.drive + "|" + c.dir);
  }
  EXPECT_TRUE(op.messages.empty());
  fs::remove(suite.paths().db_path());
  update_drive(suite.paths(), op, "/data/post1003.dat");
  expect_one("錯誤:", "(-2147467259)");
  EXPECT_FALSE(fs::exists(suite.paths().db_path()));
}

TEST_F(TransferSource, CopyFileStagesTheFloppyFileOrSaysItIsMissing) {
  const std::string floppy = suite.root() + "/floppy";
  setenv("KIV_FLOPPY", floppy.c_str(), 1);
  fs::create_directories(floppy + "/post1003.dat");  // a folder is not the file
  EXPECT_FALSE(copy_file(suite.paths(), op));
  expect_one("找 不 到 檔 案 ( post1003.dat )", "", MessageIcon::information);
  EXPECT_FALSE(fs::exists(suite.paths().staging_file()));

  fs::remove(floppy + "/post1003.dat");
  const std::string data = "1 line\r\n" + std::string(200000, 'x');  // more than one buffer
  suite.write_file("floppy/post1003.dat", data);
  suite.write_file("medi/post1003.dat", "an older, longer staging copy that must go away entirely");
  EXPECT_TRUE(copy_file(suite.paths(), op));
  EXPECT_EQ(slurp(suite.paths().staging_file()), data);
  EXPECT_EQ(std::distance(fs::directory_iterator(suite.paths().work_dir()), {}), 1) << "no temporary file left";
  EXPECT_TRUE(op.messages.empty());

  fs::remove(suite.paths().staging_file());
  fs::create_directories(suite.paths().staging_file() + "/inside");
  EXPECT_FALSE(copy_file(suite.paths(), op));
  expect_one("錯誤:", "(" + std::to_string(EISDIR) + ")");
  EXPECT_EQ(std::distance(fs::directory_iterator(suite.paths().work_dir()), {}), 1) << "no partial file";
  unsetenv("KIV_FLOPPY");
}

}  // namespace
}  // namespace kiv::source
