#include "source/transfer_source.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>

#include "recording_operator.h"
#include "store/statement.h"
#include "store/store_choice.h"
#include "store_text.h"
#include "tool_run.h"

namespace kiv::source {
namespace {

namespace fs = std::filesystem;
using kiv::testing::slurp;

class TransferSource : public kiv::testing::OnEachStore {
 protected:
  void remember(const char* drive, const std::string& dir) {
    auto db = suite.open();
    db.execute("DELETE FROM KIV2_School");
    store::Statement st(db, "INSERT INTO KIV2_School (tranidrive, tranidir) VALUES (?1, ?2)");
    if (drive != nullptr) st.bind(1, drive);
    st.bind(2, dir).run();
  }
  // The one message shown since the last call, as "icon title text"; "" for none.
  std::string shown() {
    EXPECT_LE(op.messages.size(), 1u);
    std::string text;
    for (const auto& m : op.messages) text = std::to_string(static_cast<int>(m.icon)) + " " + m.title + " " + m.text;
    op.messages.clear();
    return text;
  }

  // Takes the database away: the file, or the file naming the server.
  void forget_database() {
    fs::remove(store() == kiv::testing::StoreKind::file ? suite.paths().db_path() : store::pgconn_path(suite.paths()));
  }

  kiv::testing::TempSuite suite{store_to_make()};
  kiv::testing::RecordingOperator op;
};
KIV_ON_EACH_STORE(TransferSource);

TEST_P(TransferSource, GetDirRestoresAUsableFolderOrFallsBackToTheWorkFolderSayingWhy) {
  const std::string root = suite.root(), dir = root + "/data/", file = suite.write_file("plain.txt", "x");
  fs::create_directories(dir);
  const std::string fallback = root + "/medi/|" + root + "/medi/", error = "1 Tavenor 錯誤:";
  const std::string not_ready = "1 Tavenor 磁 碟 未 就 緒\r\n\r\n回 到 預 設 路 徑";
  const struct {
    std::function<void()> setup;
    std::string path_and_dialog, message_start, message_end;
  } cases[] = {
      {[&] { fs::remove_all(suite.paths().work_dir()); }, fallback, "", ""},  // no school row
      {[&] { remember("/", root + "/gone/"); }, fallback, "", ""},
      {[&] { remember(nullptr, "   "); }, fallback, "", ""},
      {[&] { remember("/", "  " + dir + "  "); }, dir + "|" + dir, "", ""},  // blanks trimmed
      {[&] { remember(" ", dir); }, "/|" + dir, "", ""},                     // no drive: the path box shows the root
      {[&] { remember(nullptr, root + "/data"); }, root + "/data|" + root + "/data", "", ""},
      {[&] { suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('/', '/')"); },
       root + "/data|" + root + "/data", "", ""},
      {[&] { remember("/", file); }, fallback, not_ready, not_ready},
      {[&] { remember("/", file + "/below/"); }, fallback, not_ready, not_ready},
      {[&] { suite.exec("DROP TABLE KIV2_School"); }, fallback, error, "(-2147467259)"},  // not the suite's
      {[&] { forget_database(); }, fallback, error, "(-2147467259)"},
      {[&] { fs::remove_all(suite.paths().work_dir()), suite.write_file("medi", "in the way"); }, fallback, error,
       "(" + std::to_string(ENOTDIR) + ")"},
  };
  for (const auto& c : cases) {
    c.setup();
    const SourceChoice choice = get_dir(suite.paths(), op);
    EXPECT_EQ(choice.path_text + "|" + choice.dialog_dir, c.path_and_dialog);
    const std::string message = shown();
    EXPECT_TRUE(message.starts_with(c.message_start) && message.ends_with(c.message_end) &&
                message.empty() == c.message_start.empty())
        << message;
    EXPECT_TRUE(&c != &cases[0] || fs::is_directory(suite.paths().work_dir())) << "made when missing";
  }
  EXPECT_FALSE(fs::exists(suite.paths().db_path())) << "nothing is created in its place";
}

TEST_P(TransferSource, UpdateDriveKeepsFirstCharacterAndFolderUpToTheLastSlashInEveryRowButMakesNoRow) {
  update_drive(suite.paths(), op, "/data/post1003.dat");
  EXPECT_EQ(suite.rows("SELECT count(*) FROM KIV2_School"), "0");
  suite.exec("INSERT INTO KIV2_School (tranidrive, tranidir) VALUES ('a', 'x/'), ('b', 'y/')");
  const std::pair<const char*, std::string> cases[] = {{"/data/in/post1003.dat", "/ /data/in/"},
                                                       {"abc", "a ''"},
                                                       {"", "'' ''"},
                                                       {"資料/post1003.dat", "資 資料/"},  // a whole character
                                                       {"it's; --/post1003.dat", "i it's; --/"}};
  for (const auto& [path_text, row] : cases) {
    update_drive(suite.paths(), op, path_text);
    EXPECT_EQ(suite.rows("SELECT tranidrive, tranidir FROM KIV2_School"), row + " | " + row);
  }
  EXPECT_EQ(shown(), "");
  forget_database();
  update_drive(suite.paths(), op, "/data/post1003.dat");
  EXPECT_TRUE(shown().ends_with("(-2147467259)"));
  EXPECT_FALSE(fs::exists(suite.paths().db_path()));
}

TEST_P(TransferSource, CopyFileStagesTheFloppyFileWholeOrSaysWhyNot) {
  const std::string floppy = suite.root() + "/floppy", staged = suite.paths().staging_file();
  setenv("KIV_FLOPPY", floppy.c_str(), 1);
  fs::create_directories(floppy + "/post1003.dat");  // a folder is not the file
  EXPECT_FALSE(copy_file(suite.paths(), op));
  EXPECT_EQ(shown(), "0 Tavenor 找 不 到 檔 案 ( post1003.dat )");
  EXPECT_FALSE(fs::exists(staged));

  fs::remove(floppy + "/post1003.dat");
  const std::string data = "1 line\r\n" + std::string(200000, 'x');  // more than one buffer
  suite.write_file("floppy/post1003.dat", data);
  suite.write_file("medi/post1003.dat", "an older, longer staging copy that must go away entirely");
  EXPECT_TRUE(copy_file(suite.paths(), op));
  EXPECT_EQ(slurp(staged), data);
  const auto readable = fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  EXPECT_EQ(fs::status(staged).permissions() & readable, readable) << "an ordinary file";
  EXPECT_EQ(shown(), "");

  fs::remove(staged);
  fs::create_directories(staged + "/inside");
  EXPECT_FALSE(copy_file(suite.paths(), op));
  EXPECT_TRUE(shown().ends_with("(" + std::to_string(EISDIR) + ")"));
  EXPECT_EQ(std::distance(fs::directory_iterator(suite.paths().work_dir()), {}), 1) << "no temporary or partial file";
  unsetenv("KIV_FLOPPY");
}

}  // namespace
}  // namespace kiv::source
