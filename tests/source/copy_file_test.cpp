#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "recording_operator.h"
#include "source/transfer_source.h"
#include "temp_suite.h"

namespace kiv::source {
namespace {

namespace fs = std::filesystem;
using kiv::testing::RecordingOperator;
using kiv::testing::TempSuite;

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::size_t entries(const std::string& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

// Points the floppy drive at a folder of the suite for the test's life.
class CopyFile : public ::testing::Test {
 protected:
  void SetUp() override {
    floppy_ = suite_.root() + "/floppy";
    fs::create_directories(floppy_);
    setenv("KIV_FLOPPY", floppy_.c_str(), 1);
  }
  void TearDown() override { unsetenv("KIV_FLOPPY"); }

  TempSuite suite_;
  std::string floppy_;
  RecordingOperator op_;
};

TEST_F(CopyFile, MissingFloppyFileIsReportedAndNothingIsStaged) {
  EXPECT_FALSE(copy_file(suite_.paths(), op_));
  fs::create_directories(floppy_ + "/post1003.dat");  // a folder is not the file
  EXPECT_FALSE(copy_file(suite_.paths(), op_));
  ASSERT_EQ(op_.messages.size(), 2u);
  for (const auto& m : op_.messages) {
    EXPECT_EQ(m.text, "找 不 到 檔 案 ( post1003.dat )");
    EXPECT_EQ(m.icon, MessageIcon::information);
    EXPECT_EQ(m.title, "Tavenor");
  }
  EXPECT_FALSE(fs::exists(suite_.paths().staging_file()));
}

TEST_F(CopyFile, StagesTheFloppyFileOverAnOldCopy) {
  std::string data = "1 line one\r\n2 trailer\r\n";
  data += std::string(200000, 'x');  // more than one buffer's worth
  suite_.write_file("floppy/post1003.dat", data);
  suite_.write_file("medi/post1003.dat", "an older, longer staging copy that must go away entirely");

  EXPECT_TRUE(copy_file(suite_.paths(), op_));
  EXPECT_TRUE(op_.messages.empty());
  EXPECT_EQ(contents(suite_.paths().staging_file()), data);
  EXPECT_EQ(entries(suite_.paths().work_dir()), 1u) << "no temporary file is left behind";
}

TEST_F(CopyFile, FailedCopyIsReportedAndLeavesNoPartialFile) {
  suite_.write_file("floppy/post1003.dat", "1 line\r\n");

  // The staging name is taken by a folder that cannot be replaced.
  fs::create_directories(suite_.paths().staging_file() + "/inside");
  EXPECT_FALSE(copy_file(suite_.paths(), op_));
  ASSERT_EQ(op_.messages.size(), 1u);
  EXPECT_EQ(op_.messages[0].icon, MessageIcon::critical);
  EXPECT_TRUE(op_.messages[0].text.starts_with("錯誤:"));
  EXPECT_TRUE(op_.messages[0].text.ends_with("(" + std::to_string(EISDIR) + ")")) << op_.messages[0].text;
  EXPECT_EQ(entries(suite_.paths().work_dir()), 1u) << "only the folder that was there";

  // No work folder at all: the errno of the failed create.
  fs::remove_all(suite_.paths().work_dir());
  RecordingOperator op;
  EXPECT_FALSE(copy_file(suite_.paths(), op));
  ASSERT_EQ(op.messages.size(), 1u);
  EXPECT_TRUE(op.messages[0].text.ends_with("(" + std::to_string(ENOENT) + ")")) << op.messages[0].text;
}

TEST(ChooseSourceFile, ChosenFileReplacesThePathAndCancelKeepsIt) {
  RecordingOperator op;
  op.next_file = "/data/post1003.dat";
  EXPECT_EQ(choose_source_file(op, "/data/", "/old/"), "/data/post1003.dat");
  op.next_file.reset();
  EXPECT_EQ(choose_source_file(op, "/data/", "/old/"), "/old/");
  ASSERT_EQ(op.dialog_titles.size(), 2u);
  EXPECT_EQ(op.dialog_titles[0], "選擇欲載入之檔案");
  EXPECT_EQ(op.dialog_initial_dirs[0], "/data/");
  EXPECT_TRUE(op.messages.empty());
}

}  // namespace
}  // namespace kiv::source
