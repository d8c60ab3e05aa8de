#include <gtest/gtest.h>

#include <filesystem>

#include "recording_operator.h"
#include "source/transfer_source.h"
#include "temp_suite.h"

namespace kiv::source {
namespace {

namespace fs = std::filesystem;
using kiv::testing::query_int;
using kiv::testing::query_text;
using kiv::testing::RecordingOperator;
using kiv::testing::TempSuite;

struct Stored {
  std::string drive;
  std::string dir;
};

Stored saved(const TempSuite& suite, RecordingOperator& op, const std::string& path_text) {
  update_drive(suite.paths(), op, path_text);
  auto db = suite.open();
  return {query_text(db, "SELECT tranidrive FROM KIV2_School ORDER BY rowid"),
          query_text(db, "SELECT tranidir FROM KIV2_School ORDER BY rowid")};
}

TEST(UpdateDrive, KeepsFirstCharacterAndFolderUpToTheLastSlash) {
  TempSuite suite;
  RecordingOperator op;
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('x', 'old')");

  Stored s = saved(suite, op, "/data/in/post1003.dat");
  EXPECT_EQ(s.drive, "/");
  EXPECT_EQ(s.dir, "/data/in/");

  s = saved(suite, op, "abc");
  EXPECT_EQ(s.drive, "a");
  EXPECT_EQ(s.dir, "");

  s = saved(suite, op, "");
  EXPECT_EQ(s.drive, "");
  EXPECT_EQ(s.dir, "");

  // The drive is a whole character even when it is not ASCII.
  s = saved(suite, op, "資料/post1003.dat");
  EXPECT_EQ(s.drive, "資");
  EXPECT_EQ(s.dir, "資料/");
  EXPECT_TRUE(op.messages.empty());
}

TEST(UpdateDrive, SetsEveryRowAndCreatesNone) {
  TempSuite suite;
  RecordingOperator op;
  update_drive(suite.paths(), op, "/data/post1003.dat");
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('a', 'x/'), ('b', 'y/')");
  update_drive(suite.paths(), op, "/data/post1003.dat");
  auto db = suite.open();
  EXPECT_EQ(query_int(db, "SELECT count(*) FROM KIV2_School"), 2);
  EXPECT_EQ(query_int(db, "SELECT count(*) FROM KIV2_School WHERE tranidrive='/' AND tranidir='/data/'"), 2);
}

TEST(UpdateDrive, QuotesAreDataAndRestoreIntact) {
  TempSuite suite;
  RecordingOperator op;
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES (NULL, NULL)");
  const std::string folder = suite.root() + "/it's; --\"x\"/";
  fs::create_directories(folder);

  const Stored relative = saved(suite, op, "it's/post1003.dat");
  EXPECT_EQ(relative.drive, "i");
  EXPECT_EQ(relative.dir, "it's/");

  const Stored s = saved(suite, op, folder + "post1003.dat");
  EXPECT_EQ(s.dir, folder);
  EXPECT_EQ(get_dir(suite.paths(), op).path_text, folder);
  EXPECT_TRUE(op.messages.empty());
}

TEST(UpdateDrive, DatabaseFailureIsReportedAndNothingIsCreated) {
  TempSuite suite(false);
  RecordingOperator op;
  update_drive(suite.paths(), op, "/data/post1003.dat");
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_EQ(op.messages[0].icon, MessageIcon::critical);
  EXPECT_TRUE(op.messages[0].text.starts_with("錯誤:"));
  EXPECT_TRUE(op.messages[0].text.ends_with("(-2147467259)"));
  EXPECT_FALSE(fs::exists(suite.paths().db_path()));
}

}  // namespace
}  // namespace kiv::source
